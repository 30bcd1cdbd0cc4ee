// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// Where a queued file's MP3 goes, below the output folder. A file added on
// its own is queued under its name; a file found in an added folder under
// its path relative to that folder's parent ("Music/Artist/Album/01.flac"),
// so the folder tree is kept below the output folder.

// The queue path of a file found below addedFolder: "<addedFolder's name>/..."
// (forward slashes, no "." or ".." parts).
QString queuePathInFolder(const QString &addedFolder, const QString &filePath);

// "Music/Artist/Album/" for "Music/Artist/Album/01.flac"; empty for a bare name.
QString folderOfQueuePath(const QString &queuePath);

// The MP3's path below the output folder: the queue path with its file name
// made an output name (outputNameFor): "Music/Album/01.flac" -> "Music/Album/01.mp3".
QString outputPathForQueuePath(const QString &queuePath);

// The first of "<folder>/song (2).mp3", "<folder>/song (3).mp3", ... that
// isTaken says is free: the numbering of a clash within one run, applied
// within the output's folder.
QString numberedOutputPath(const QString &outputPath, const std::function<bool(const QString &)> &isTaken);
