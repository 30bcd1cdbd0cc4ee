// SPDX-License-Identifier: GPL-3.0-or-later
// The window in the user's language: the program's own texts with their
// plural forms, Qt's own dialog buttons in the same language, one key per
// mnemonic, and English for a language the program has no translation for.
#include "language.h"
#include "mainwindow.h"
#include "windowtesting.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

using namespace windowtesting;

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void windowInLanguage_data();
    void windowInLanguage();

private:
    // The letters after "&" in the window's buttons and labels, lower case.
    static QStringList mnemonics(MainWindow &window);
};

void TestLanguage::cleanup()
{
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

void TestLanguage::windowInLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("convert");
    QTest::addColumn<QString>("cancel"); // in Qt's own file dialog
    QTest::addColumn<QString>("skipped"); // a plural text, for one file
    QTest::newRow("German") << "de_AT" << "Dateien &umwandeln" << "Abbrechen"
                            << "1 Datei in den hinzugefügten Ordnern ist keine Audiodatei und wurde nicht hinzugefügt.";
    QTest::newRow("French") << "fr_FR" << "&Convertir les fichiers" << "Annuler"
                            << "1 fichier des dossiers ajoutés n’est pas un fichier audio et n’a pas été ajouté.";
    const QString english = "1 file in the added folders is not an audio file and was not added.";
    QTest::newRow("English") << "en_GB" << "&Convert File(s)" << "Cancel" << english;
    QTest::newRow("no translation") << "es_ES" << "&Convert File(s)" << "Cancel" << english;
}

void TestLanguage::windowInLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, convert);
    QFETCH(QString, cancel);
    QFETCH(QString, skipped);
    const auto translations = installTranslations(QLocale(locale));
    MainWindow window;
    window.show();
    QCOMPARE(window.findChild<QAbstractButton *>("btnConvert")->text(), convert);
    const QStringList keys = mnemonics(window);
    QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), keys.size());

    QString dialogCancel;
    whenModal<QFileDialog>([&dialogCancel](QFileDialog *dialog) {
        if (auto *buttons = dialog->findChild<QDialogButtonBox *>())
            dialogCancel = buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    QTest::mouseClick(window.findChild<QAbstractButton *>("btnAddFile"), Qt::LeftButton);
    QCOMPARE(dialogCancel, cancel);

    // A folder with one file that is not audio.
    QTemporaryDir folder;
    QFile notes(folder.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    BoxAnswerer answerer({QCoreApplication::translate("QPlatformTheme", "OK")});
    window.AddFiles({folder.path()});
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().text, skipped);
}

QStringList TestLanguage::mnemonics(MainWindow &window)
{
    QStringList texts;
    for (const auto *button : window.findChildren<QAbstractButton *>())
        texts << button->text();
    for (const auto *label : window.findChildren<QLabel *>())
        texts << label->text();
    QStringList keys;
    for (const QString &text : std::as_const(texts)) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        if (at >= 0 && at + 1 < text.size())
            keys << text.mid(at + 1, 1).toLower();
    }
    return keys;
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
