// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "mainwindow.h"
#include "messagebox.h"

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

// The options QApplication and its platform plugins take out of the command
// line (Qt 6.4: QGuiApplication, QApplication, the xcb plugin's X11 ones;
// -qmljsdebugger is QCoreApplication's), with whether each takes a value.
// Declared, hidden, so that before QApplication exists they are told apart
// from options nobody knows, and so that one a plugin of another platform
// leaves in the command line is no error.
struct QtOption
{
    const char *name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true}, {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true}, {"reverse", false},
    {"session", true}, {"testability", false}, {"style", true}, {"stylesheet", true},
    {"widgetcount", false}, {"qmljsdebugger", true}, {"display", true}, {"name", true},
    {"nograb", false}, {"dograb", false}, {"visual", true}, {"geometry", true}, {"icon", true},
    {"title", true},
};

} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    // "-abc" is one unknown option rather than -a -b -c, so an option Qt takes
    // (-visual, -hostname...) is never read as our -v or -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(CommandLine::tr(
        "Converts audio files to MP3. The files given are queued for conversion; a folder adds "
        "the audio files below it, and their MP3 files keep its tree below the output folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), CommandLine::tr("Audio files or folders to queue."),
                                 QStringLiteral("[FILE...]"));
    for (const QtOption &qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name));
        if (qt.takesValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

bool asksForTextOnly(const QStringList &arguments)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(arguments))
        return true; // the error message
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
        showFileList(&window, QMessageBox::Warning, CommandLine::tr("Files Not Added"),
                     CommandLine::tr("These names are not readable files or folders and were not added:\n%1"),
                     sorted.skipped);
    }
}
