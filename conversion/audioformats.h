// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The kinds of file the encoder tool converts, by their name's suffix. One
// list serves the add dialog's filter and the search of dropped folders.

// Lower-case suffixes without the dot: "flac", "ogg", "wav", ...
const QStringList &audioFileSuffixes();

// Whether a file name ends in one of those suffixes, in any letter case.
bool hasAudioSuffix(const QString &fileName);

// "*.aac *.AAC *.ac3 *.AC3 ...": the suffixes as name patterns in lower and
// upper case, for a file dialog's filter.
QString audioFilePatterns();

// Orders names the way people number them: "2 two" before "10 ten", letter
// case aside. Negative, zero or positive, like QString::compare.
int naturalCompare(const QString &a, const QString &b);

// The audio files anywhere below folder, sorted by path (numbers in names in
// their numeric order), for adding a whole folder. Files that are not audio
// are left out and appended to *skipped; hidden files and folders are passed
// over silently, and links to folders are not followed.
QStringList audioFilesIn(const QString &folder, QStringList *skipped);
