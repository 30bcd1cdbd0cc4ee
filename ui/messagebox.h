#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

// A modal message box with buttons given as texts, in order: the first button
// is the default and no button answers Escape or the window's close button.
// Returns the number of the clicked button (0 for the first text), or -1 when
// the box ended without a click (for instance because the program is closing).
// A non-empty detailedText is offered behind the box's "Show Details..." button.
// With a checkBoxText, the box has a check box of that text; *checked says
// whether it was ticked when the box ended.
int askWithButtons(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                   const QString &text, const QStringList &buttonTexts,
                   const QString &detailedText = QString(), const QString &checkBoxText = QString(),
                   bool *checked = nullptr);

// The names one per line, at most `shown` of them, then "and N more", so a
// box that lists files fits the screen whatever their number.
inline constexpr int kNamesShown = 20;
QString shortList(const QStringList &names, int shown = kNamesShown);

// A box that lists files: text holds "%1" for the short list; with more
// names than it shows, every name is under "Show Details...".
void showFileList(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  const QStringList &names);

// The message box askWithButtons is showing right now, or null. Lets the main
// window end an open question when it is closed during a run.
QMessageBox *openQuestionBox();
