#include "tags.h"

#include <initializer_list>

namespace {

// Largest picture carried over; ID3v2 tags cannot exceed 256 MB anyway.
constexpr int maxPictureBytes = 16 * 1024 * 1024;

// The first non-empty value under any of the keys (case-insensitive),
// looking in the container's metadata first.
std::string lookUp(const AVFormatContext *format, const AVStream *audio, std::initializer_list<const char *> keys)
{
    for (const AVDictionary *metadata : {format->metadata, audio->metadata}) {
        for (const char *key : keys) {
            const AVDictionaryEntry *entry = av_dict_get(metadata, key, nullptr, 0);
            if (entry && entry->value[0] != '\0')
                return entry->value;
        }
    }
    return {};
}

// "3" plus a separate total of 12 becomes "3/12".
std::string withTotal(std::string number, const std::string &total)
{
    if (!number.empty() && !total.empty() && number.find('/') == std::string::npos)
        number += "/" + total;
    return number;
}

const char *pictureMimeType(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    case AV_CODEC_ID_PNG:
        return "image/png";
    default:
        return nullptr;
    }
}

} // namespace

Tags readTags(const AVFormatContext *format, const AVStream *audio)
{
    Tags tags;
    tags.title = lookUp(format, audio, {"title"});
    tags.artist = lookUp(format, audio, {"artist"});
    tags.album = lookUp(format, audio, {"album"});
    tags.albumArtist = lookUp(format, audio, {"album_artist", "albumartist", "album artist"});
    tags.track = withTotal(lookUp(format, audio, {"track", "tracknumber"}),
                           lookUp(format, audio, {"tracktotal", "totaltracks"}));
    tags.disc = withTotal(lookUp(format, audio, {"disc", "discnumber"}),
                          lookUp(format, audio, {"disctotal", "totaldiscs"}));
    tags.date = lookUp(format, audio, {"date", "year"});
    tags.genre = lookUp(format, audio, {"genre"});
    tags.comment = lookUp(format, audio, {"comment", "description"});
    return tags;
}

bool readCover(const AVFormatContext *format, Picture &picture)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        const AVPacket &packet = stream->attached_pic;
        const char *mimeType = pictureMimeType(stream->codecpar->codec_id);
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || !mimeType || packet.size <= 0
            || packet.size > maxPictureBytes)
            continue;
        picture.mimeType = mimeType;
        picture.data.assign(packet.data, packet.data + packet.size);
        return true;
    }
    return false;
}
