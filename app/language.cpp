// SPDX-License-Identifier: GPL-3.0-or-later
#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace {

// Where qt_add_translations embeds the compiled translations.
const QString kOwnFolder = QStringLiteral(":/i18n");
const QString kOwnName = QStringLiteral("morvane");

} // namespace

std::vector<std::unique_ptr<QTranslator>> installTranslations(const QLocale &locale)
{
    std::vector<std::unique_ptr<QTranslator>> installed;
    auto own = std::make_unique<QTranslator>();
    if (!own->load(locale, kOwnName, QStringLiteral("_"), kOwnFolder)
        && !own->load(kOwnName + QStringLiteral("_en"), kOwnFolder))
        return installed;

    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QLocale(own->language()), QStringLiteral("qt"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        installed.push_back(std::move(qt));
    }
    QCoreApplication::installTranslator(own.get());
    installed.push_back(std::move(own));
    return installed;
}
