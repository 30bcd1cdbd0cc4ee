// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The help lies in one folder twice: help.chm for a CHM viewer, and the same
// pages as HTML in help/ for a web browser.
struct HelpFiles
{
    // The help of the program in programFolder: beside the program when it is
    // there (a build folder), else in the installed data folder, share/morvane
    // under the prefix the program's folder lies in. When neither holds any
    // help, folder is the installed one, where the help belongs.
    explicit HelpFiles(const QString &programFolder);

    QString folder;

    QString chm() const { return folder + QStringLiteral("/help.chm"); }
    QString htmlIndex() const { return folder + QStringLiteral("/help/index.html"); }
};

enum class HelpShown { Chm, Html, Nothing };

// Hands the help to the desktop: help.chm when the desktop has a program for
// its type, else the HTML pages to the web browser. Returns what was handed
// over, or Nothing when no program could be started for either.
//
// The association is asked of xdg-mime, and files are opened with xdg-open,
// both found on PATH. Opening cannot wait for the viewer to show the file
// (xdg-open may run it in the foreground), so an association must be known
// beforehand: without one, xdg-open would pass help.chm to a web browser.
HelpShown openHelp(const HelpFiles &files);
