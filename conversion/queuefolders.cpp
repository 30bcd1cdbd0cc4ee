// SPDX-License-Identifier: GPL-3.0-or-later
// What a run does with folders: the output's folders it makes (and removes
// again when they stay empty), the albums whose gain it has written and the
// playlist of each album folder, and the temporary files of tools that died.
#include "queuerun.h"

#include "audioformats.h"
#include "encodertool.h"
#include "queuepaths.h"
#include "toolcontract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <map>

// Makes the folders of outputFolder (below the output folder) that are not
// there yet, and notes them, so that those left empty at the end can go.
bool QueueRun::makeFolders(const QString &outputFolder, QString &failure)
{
    if (outputFolder.isEmpty())
        return true;
    QString path;
    for (const QString &part : outputFolder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += part + QLatin1Char('/');
        const QFileInfo existing(absoluteOutput(path));
        if (existing.isDir())
            continue;
        if (existing.exists() || existing.isSymLink() || !QDir().mkdir(absoluteOutput(path))) {
            failure = ConversionThread::tr("the folder %1 could not be made")
                          .arg(QDir::toNativeSeparators(absoluteOutput(path)));
            return false;
        }
        createdFolders << path;
    }
    return true;
}

void QueueRun::removeFoldersLeftEmpty()
{
    // Children were made after their parents.
    for (auto it = createdFolders.crbegin(); it != createdFolders.crend(); ++it)
        QDir().rmdir(absoluteOutput(*it)); // only ever removes an empty folder
    createdFolders.clear();
}

// A tool that died could not remove the named temporary file it was writing
// (where the file system has no unnamed ones). Only a hidden file in the
// output's own folder is taken for one: the name comes from the tool.
void QueueRun::removePartialFiles(const ToolProcess &tool)
{
    if (tool.task().kind == AlbumGain)
        return;
    const QString folder = absoluteOutput(folderOfQueuePath(files[size_t(tool.task().id)].outputName));
    for (const QString &name : tool.errorLines().partialFiles()) {
        if (!name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) || name == QLatin1String(".")
            || name == QLatin1String(".."))
            continue;
        const QFileInfo partial(folder + name);
        if (partial.isFile() && !partial.isSymLink())
            QFile::remove(partial.filePath());
    }
}

// Every file of the folder is done: if all of them converted and they are
// all the audio the input folder holds, each album among them gets its gain;
// and a folder added as a folder gets its playlist.
void QueueRun::finishFolder(const Folder &folder)
{
    if (!folder.outputFolder.isEmpty())
        writePlaylist(folder);
    bool allConverted = true;
    for (const int index : folder.files)
        allConverted = allConverted && files[size_t(index)].outcome == Outcome::Converted;
    if (!allConverted || !folderHoldsOnlyRunFiles(folder))
        return;
    std::map<QString, QVector<int>> albums;
    for (const int index : folder.files) {
        const TrackInfo &info = files[size_t(index)].info;
        if (!info.album.isEmpty() && !info.loudness.isEmpty())
            albums[info.album].append(index);
        else if (!info.album.isEmpty())
            albums[info.album].append(-1); // not measured: no album gain for it
    }
    for (const auto &[album, members] : albums) {
        if (members.contains(-1))
            continue;
        ToolTask task;
        task.program = encoderToolPath();
        task.arguments << QString::fromLatin1(toolcontract::kAlbumGainOption);
        for (const int index : members) {
            task.arguments << absoluteOutput(files[size_t(index)].outputName);
            task.input += files[size_t(index)].info.loudness + '\n';
        }
        task.stallTimeoutMs = stallTimeoutMs;
        task.id = nextAlbumId++;
        task.kind = AlbumGain;
        albumFolders.insert(task.id, QDir::toNativeSeparators(absoluteOutput(folder.outputFolder)) + album);
        albumTasks.push_back(std::move(task));
    }
}

// An input may come from an album of which the queue holds only a part: its
// own album gain is then the right one, and stays.
bool QueueRun::folderHoldsOnlyRunFiles(const Folder &folder) const
{
    QSet<QString> queued;
    for (const int index : folder.files)
        queued.insert(QFileInfo(inputs.at(index)).fileName());
    const QFileInfoList entries = QDir(folder.inputFolder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (hasAudioSuffix(entry.fileName()) && !queued.contains(entry.fileName()))
            return false;
    }
    return true;
}

// "<folder>/<folder>.m3u8": the folder's MP3s, converted in this run or kept
// from an earlier one. A playlist of that name that this program did not
// write is left as it is.
void QueueRun::writePlaylist(const Folder &folder)
{
    const QString folderName = QFileInfo(folder.outputFolder.chopped(1)).fileName();
    const QString path = absoluteOutput(folder.outputFolder) + folderName + QStringLiteral(".m3u8");
    QByteArray existing;
    QFile old(path);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly) || !isOwnPlaylist(existing = old.read(1 << 20))) {
            worker.addRunNote(ConversionThread::tr("%1 was not written by this program and was left as it is")
                                  .arg(QDir::toNativeSeparators(path)));
            return;
        }
        existing += old.readAll();
    }
    QHash<QString, QString> earlier;
    for (const PlaylistEntry &entry : playlistEntries(existing))
        earlier.insert(entry.fileName, entry.extinf);

    QVector<PlaylistEntry> entries;
    QString album;
    for (const int index : folder.files) {
        const File &file = files[size_t(index)];
        if (file.outcome == Outcome::Failed)
            continue;
        const QString name = file.outputName.mid(folder.outputFolder.size());
        if (name.contains(QLatin1Char('/')))
            continue;
        if (file.outcome == Outcome::Converted) {
            entries.append({name, extinfLine(file.info, name), file.info.disc, file.info.track});
            if (album.isEmpty())
                album = file.info.album;
        } else {
            entries.append({name, earlier.value(name, extinfLine(TrackInfo(), name)), 0, 0});
        }
    }
    if (entries.isEmpty())
        return;
    QSaveFile playlist(path);
    if (!playlist.open(QIODevice::WriteOnly)
        || playlist.write(playlistText(album.isEmpty() ? folderName : album, entries)) < 0 || !playlist.commit())
        worker.addRunNote(ConversionThread::tr("the playlist %1 could not be written").arg(QDir::toNativeSeparators(path)));
}
