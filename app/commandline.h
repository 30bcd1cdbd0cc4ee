// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class MainWindow;
class QCommandLineParser;

// The program's command line: morvane [--help] [--version] [FILE...].

// Declares the options and the FILE arguments on a parser, and, hidden from
// the help, the options Qt's QApplication takes (-platform, -style...).
void describeCommandLine(QCommandLineParser &parser);

// Whether the arguments (the first being the program's name) are answered with
// text alone: --help, --help-all or --version, or an option error (an option
// neither the program nor Qt knows, or one without its value). Those are
// answered without a window, so they need no display.
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
