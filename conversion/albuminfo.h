// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// What the tool tells about an input it converted ("Info <key> <value>"
// lines on its standard output), for the album gain and the playlists.
struct TrackInfo
{
    QString album;
    QString artist;
    QString title;
    int track = 0; // 0: not known
    int disc = 0;
    double seconds = -1; // < 0: not known
    QByteArray loudness; // the tool's own measurement, handed back to it
};

TrackInfo parseTrackInfo(const QByteArray &toolOutput);

// One line of an album folder's playlist.
struct PlaylistEntry
{
    QString fileName;  // the MP3's name in the folder
    QString extinf;    // "#EXTINF:<seconds>,<artist> - <title>"
    int disc = 0;
    int track = 0;     // 0: not known
};

// "#EXTINF:215,Artist - Title" for a converted file; the length in whole
// seconds (-1 when not known), "artist - title" where both are known, else
// the title, else the MP3's name without ".mp3".
QString extinfLine(const TrackInfo &info, const QString &fileName);

// An extended M3U playlist, UTF-8 text, with the entries in track order when
// every one has a track number (by disc, then track), else in the order given.
QByteArray playlistText(const QString &title, QVector<PlaylistEntry> entries);

// Whether a playlist file is one this program wrote (and may replace).
bool isOwnPlaylist(const QByteArray &content);

// The "#EXTINF" line of each file a playlist of ours names, by file name.
QVector<PlaylistEntry> playlistEntries(const QByteArray &content);
