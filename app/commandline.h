// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class MainWindow;
class QCommandLineParser;

// The program's command line: morvane [--help] [--version] [FILE...].

// Declares the options and the FILE arguments on a parser.
void describeCommandLine(QCommandLineParser &parser);

// Whether the arguments (the first being the program's name) ask for text
// only: --help, --help-all or --version, and nothing this parser does not
// know. Those are answered without a window, so they need no display. With an
// unknown option (perhaps one of Qt's, such as -platform) the answer is no:
// the parser then runs again once QApplication has taken out its own.
bool asksForTextOnly(const QStringList &arguments);

// The FILE arguments sorted into what is queued and what is skipped.
struct SortedArguments
{
    QStringList files;   // absolute paths of files and folders, in the order given
    QStringList skipped; // the arguments that add nothing, as given
};

// A readable regular file or folder is queued as an absolute path (the
// window adds the audio files below a folder); anything else is skipped. A
// relative name is taken against workingDirectory, and a file: URL (as some
// launchers pass) stands for its local path.
SortedArguments sortArguments(const QStringList &arguments, const QString &workingDirectory);

// Queues the files the way the add dialog does (the same rows, the same
// duplicate rule and warning), then lists the skipped names in one warning.
void queueSortedArguments(MainWindow &window, const SortedArguments &sorted);
