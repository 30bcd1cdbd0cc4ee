// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>

// How a finished row looks: its background says converted (dark green) or
// failed (red), its text colour reads well on that background whatever the
// desktop's palette, and a mark in its name cell says the same without colour.

struct RowLook
{
    QColor background;
    QColor text;
    QIcon mark; // a check mark or a cross, drawn in the text colour
};

RowLook rowLook(bool converted);

// The contrast ratio of two colours as the Web Content Accessibility
// Guidelines define it, from their relative luminance: 1 (the same) to 21
// (black on white). Ordinary text wants at least 4.5.
double contrastRatio(const QColor &a, const QColor &b);
