#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

// A modal message box with buttons given as texts, in order: the first button
// is the default and no button answers Escape or the window's close button.
// Returns the number of the clicked button (0 for the first text), or -1 when
// the box ended without a click (for instance because the program is closing).
// A non-empty detailedText is offered behind the box's "Show Details..." button.
int askWithButtons(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                   const QString &text, const QStringList &buttonTexts,
                   const QString &detailedText = QString());

// The message box askWithButtons is showing right now, or null. Lets the main
// window end an open question when it is closed during a run.
QMessageBox *openQuestionBox();
