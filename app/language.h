// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTranslator>

#include <memory>
#include <vector>

class QLocale;

// Shows the program in the user's language: installs the program's own
// translation for the first of the locale's languages that it has one for
// (they are built into the program), and Qt's translation for that same
// language (from Qt's translations folder) for the texts of Qt's own dialogs
// and buttons. A language the program has no translation for gets the
// program's English texts, with their proper plural forms ("1 file",
// "2 files"), and no translation of Qt's either, so that one window never
// mixes two languages.
//
// Returns the translators; they are in use for as long as they live.
std::vector<std::unique_ptr<QTranslator>> installTranslations(const QLocale &locale);
