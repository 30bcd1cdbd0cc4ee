// SPDX-License-Identifier: GPL-3.0-or-later
#include "help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {

// From the program's folder to the installed data folder, as the install
// rules lay them out (packaging/CMakeLists.txt defines it).
const QString kInstalledFromProgram = QStringLiteral(MORVANE_HELP_FROM_PROGRAM);

bool holdsHelp(const HelpFiles &files)
{
    return QFileInfo(files.chm()).isFile() || QFileInfo(files.htmlIndex()).isFile();
}

// xdg-mime is a small shell script; this only guards against one that hangs.
constexpr int kXdgMimeTimeoutMs = 5000;

// xdg-mime's answer, trimmed; empty when it did not run or gave no answer.
QString askXdgMime(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("xdg-mime"), arguments);
    if (!process.waitForFinished(kXdgMimeTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Whether the desktop names a program for this file's type, as detected the
// way xdg-open will detect it when the file is opened.
bool hasDefaultApplication(const QString &path)
{
    const QString type = askXdgMime({QStringLiteral("query"), QStringLiteral("filetype"), path});
    if (type.isEmpty())
        return false;
    return !askXdgMime({QStringLiteral("query"), QStringLiteral("default"), type}).isEmpty();
}

bool openWithDesktop(const QString &path)
{
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {path}))
        return true;
    // Without xdg-utils, Qt may still know the desktop's own opener.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace

HelpFiles::HelpFiles(const QString &programFolder)
    : folder(programFolder)
{
    if (!holdsHelp(*this))
        folder = QDir::cleanPath(programFolder + QLatin1Char('/') + kInstalledFromProgram);
}

HelpShown openHelp(const HelpFiles &files)
{
    if (QFileInfo(files.chm()).isFile() && hasDefaultApplication(files.chm())
        && openWithDesktop(files.chm()))
        return HelpShown::Chm;
    if (QFileInfo(files.htmlIndex()).isFile() && openWithDesktop(files.htmlIndex()))
        return HelpShown::Html;
    return HelpShown::Nothing;
}
