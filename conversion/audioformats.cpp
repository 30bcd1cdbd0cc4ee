// SPDX-License-Identifier: GPL-3.0-or-later
#include "audioformats.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

const QStringList &audioFileSuffixes()
{
    // Containers and raw streams of audio that FFmpeg's libraries read, and
    // MIDI, which the tool renders; the video containers are there for
    // their sound.
    static const QStringList suffixes{
        "3gp",  "aac",  "ac3",  "adts", "aif", "aifc", "aiff", "amr", "ape", "au",  "avi", "caf",
        "dts",  "eac3", "flac", "iff",  "kar", "m4a",  "m4b",  "mid", "midi", "mka", "mkv", "mov",
        "mp1",  "mp2",  "mp3",  "mp4",  "mpa", "mpc",  "oga",  "ogg", "opus", "ra",  "rm",  "snd",
        "spx",  "tta",  "voc",  "w64",  "wav", "weba", "webm", "wma", "wv"};
    return suffixes;
}

bool hasAudioSuffix(const QString &fileName)
{
    static const QSet<QString> known(audioFileSuffixes().cbegin(), audioFileSuffixes().cend());
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && known.contains(fileName.mid(dot + 1).toLower());
}

QString audioFilePatterns()
{
    QStringList patterns;
    for (const QString &suffix : audioFileSuffixes())
        patterns << QStringLiteral("*.") + suffix << QStringLiteral("*.") + suffix.toUpper();
    return patterns.join(QLatin1Char(' '));
}

int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a.at(endA).isDigit())
                ++endA;
            while (endB < b.size() && b.at(endB).isDigit())
                ++endB;
            // Without leading zeros, the longer run is the larger number.
            while (i < endA - 1 && a.at(i) == QLatin1Char('0'))
                ++i;
            while (j < endB - 1 && b.at(j) == QLatin1Char('0'))
                ++j;
            const QStringView digitsA = QStringView(a).mid(i, endA - i);
            const QStringView digitsB = QStringView(b).mid(j, endB - j);
            if (digitsA.size() != digitsB.size())
                return digitsA.size() < digitsB.size() ? -1 : 1;
            if (const int order = digitsA.compare(digitsB))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        if (const int order = QString::compare(a.at(i), b.at(j), Qt::CaseInsensitive))
            return order;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return QString::compare(a, b); // equal but for case or leading zeros
}

QStringList audioFilesIn(const QString &folder, QStringList *skipped)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (hasAudioSuffix(path))
            files << path;
        else if (skipped)
            *skipped << path;
    }
    std::sort(files.begin(), files.end(),
              [](const QString &a, const QString &b) { return naturalCompare(a, b) < 0; });
    return files;
}
