// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "mainwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {

// The translation context of the command line's texts.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

// The absolute path one FILE argument queues, or empty when it adds nothing.
QString pathForArgument(const QString &argument, const QString &workingDirectory)
{
    QString path = argument;
    if (argument.startsWith(QLatin1String("file:"))) {
        const QUrl url(argument);
        path = url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (path.isEmpty())
        return {};
    const QFileInfo file(QDir(workingDirectory), path);
    // A folder is queued whole (the window adds the audio files below it);
    // FIFOs and devices, which the tool refuses, add nothing.
    if (!(file.isFile() || file.isDir()) || !file.isReadable())
        return {};
    return QDir::cleanPath(file.absoluteFilePath());
}

} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    // "-abc" is one unknown option rather than -a -b -c, so an option Qt takes
    // (-visual, -hostname...) is never read as our -v or -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        CommandLine::tr("Converts audio files to MP3. The files given are queued for conversion."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), CommandLine::tr("Audio files to queue."),
                                 QStringLiteral("[FILE...]"));
}

bool asksForTextOnly(const QStringList &arguments)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(arguments))
        return false;
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
           || parser.isSet(QStringLiteral("version"));
}

SortedArguments sortArguments(const QStringList &arguments, const QString &workingDirectory)
{
    SortedArguments sorted;
    for (const QString &argument : arguments) {
        const QString path = pathForArgument(argument, workingDirectory);
        if (path.isEmpty())
            sorted.skipped << argument;
        else
            sorted.files << path;
    }
    return sorted;
}

void queueSortedArguments(MainWindow &window, const SortedArguments &sorted)
{
    window.AddFiles(sorted.files); // nothing for an empty list
    if (!sorted.skipped.isEmpty()) {
        QMessageBox::warning(
            &window, CommandLine::tr("Files Not Added"),
            CommandLine::tr("These names are not readable files or folders and were not added:\n%1")
                .arg(sorted.skipped.join(QLatin1Char('\n'))));
    }
}
