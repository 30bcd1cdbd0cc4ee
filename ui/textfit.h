// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QStringList>
#include <QVector>

class QMainWindow;
class QPlainTextEdit;
class QTableWidget;
class QWidget;

// Making room for texts. The form gives every widget the size its text takes
// at a small font; with a larger font or a longer translation the text needs
// more. These functions make widgets larger where their texts need it and
// never smaller, so at the form's font the window looks as the form made it.

// Grows a label, button or check box to its text. The form's size stays the
// least the widget gets, and a widget of fixed size stays fixed. A
// word-wrapped label gets the width of its longest word and the height of its
// lines at that width.
void growToText(QWidget *widget);

// Gives a one-line text field room for a line of its font between its
// margins, above its scroll bar.
void growToLine(QPlainTextEdit *field);

// Widens each column of the table to the widest of its header and the
// sample texts given for it (the first column's with the status mark), the
// form's width staying the least for every column but the stretched last
// one; makes the rows tall enough for their texts; and makes the table wide
// enough for its columns and tall enough for its header and `rows` rows.
void growTable(QTableWidget *table, const QVector<QStringList> &columnSamples, int rows);

// Fixes the window's size at least, or larger where the minimum size of its
// central widget's layout needs more; exemptFromWidth (a picture that may be
// cut at the right) does not count towards the width. The user cannot resize
// the window.
void fixWindowSize(QMainWindow *window, QSize least, const QWidget *exemptFromWidth);
