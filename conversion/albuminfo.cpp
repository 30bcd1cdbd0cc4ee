// SPDX-License-Identifier: GPL-3.0-or-later
#include "albuminfo.h"

#include "toolcontract.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray kOwnMarker = QByteArrayLiteral("# Written by Morvane");

QString decoded(const QByteArray &value)
{
    return QString::fromStdString(toolcontract::decodeLineText(value.toStdString()));
}

int leadingNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*(\\d{1,6})"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

TrackInfo parseTrackInfo(const QByteArray &toolOutput)
{
    TrackInfo info;
    const QByteArray prefix(toolcontract::kInfoPrefix);
    for (QByteArray line : toolOutput.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.startsWith(prefix))
            continue;
        line = line.mid(prefix.size());
        const qsizetype blank = line.indexOf(' ');
        const QByteArray key = blank < 0 ? line : line.left(blank);
        const QByteArray value = blank < 0 ? QByteArray() : line.mid(blank + 1);
        if (key == "album")
            info.album = decoded(value);
        else if (key == "artist")
            info.artist = decoded(value);
        else if (key == "title")
            info.title = decoded(value);
        else if (key == "track")
            info.track = leadingNumber(decoded(value));
        else if (key == "disc")
            info.disc = leadingNumber(decoded(value));
        else if (key == "seconds")
            info.seconds = value.toDouble();
        else if (key == "loudness")
            info.loudness = value;
    }
    return info;
}

QString extinfLine(const TrackInfo &info, const QString &fileName)
{
    const long long seconds = info.seconds >= 0 ? std::llround(info.seconds) : -1;
    QString name = info.title;
    if (!info.artist.isEmpty() && !info.title.isEmpty())
        name = info.artist + QStringLiteral(" - ") + info.title;
    if (name.isEmpty())
        name = fileName.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive) ? fileName.chopped(4) : fileName;
    // A line break in a tag would end the entry early.
    name.replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
    return QStringLiteral("#EXTINF:%1,%2").arg(seconds).arg(name);
}

QByteArray playlistText(const QString &title, QVector<PlaylistEntry> entries)
{
    const bool numbered = std::all_of(entries.cbegin(), entries.cend(),
                                      [](const PlaylistEntry &entry) { return entry.track > 0; });
    if (numbered) {
        std::stable_sort(entries.begin(), entries.end(), [](const PlaylistEntry &a, const PlaylistEntry &b) {
            return a.disc != b.disc ? a.disc < b.disc : a.track < b.track;
        });
    }
    QString oneLineTitle = title;
    oneLineTitle.replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
    QByteArray text = "#EXTM3U\n" + kOwnMarker + "; it replaces this list when it converts the folder again.\n";
    text += "#PLAYLIST:" + oneLineTitle.toUtf8() + '\n';
    for (const PlaylistEntry &entry : std::as_const(entries))
        text += entry.extinf.toUtf8() + '\n' + entry.fileName.toUtf8() + '\n';
    return text;
}

bool isOwnPlaylist(const QByteArray &content)
{
    const QList<QByteArray> lines = content.left(4096).split('\n');
    return lines.size() > 1 && lines.at(0).trimmed() == "#EXTM3U" && lines.at(1).startsWith(kOwnMarker);
}

QVector<PlaylistEntry> playlistEntries(const QByteArray &content)
{
    QVector<PlaylistEntry> entries;
    QString extinf;
    for (const QByteArray &raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("#EXTINF:")))
            extinf = line;
        else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            entries.append({line, extinf, 0, 0});
            extinf.clear();
        }
    }
    return entries;
}
