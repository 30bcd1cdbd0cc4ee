#include "tags/tags.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <initializer_list>

namespace {

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

bool isTrue(const std::string &value)
{
    return value == "1" || value == "true" || value == "TRUE" || value == "yes";
}

void fill(std::string &field, const std::string &fallback)
{
    if (field.empty())
        field = fallback;
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

// libavformat names a picture's ID3/FLAC/ASF type in the stream's comment.
bool isFrontCover(const AVStream *stream)
{
    const AVDictionaryEntry *type = av_dict_get(stream->metadata, "comment", nullptr, 0);
    return type && std::strcmp(type->value, "Cover (front)") == 0;
}

} // namespace

const char *imageMimeType(const std::vector<uint8_t> &data)
{
    static const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF};
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data.size() > sizeof png && std::equal(std::begin(png), std::end(png), data.begin()))
        return "image/png";
    if (data.size() > sizeof jpeg && std::equal(std::begin(jpeg), std::end(jpeg), data.begin()))
        return "image/jpeg";
    return nullptr;
}

std::string withTotal(std::string number, const std::string &total)
{
    if (!number.empty() && !total.empty() && number.find('/') == std::string::npos)
        number += "/" + total;
    return number;
}

std::string joinValues(const std::vector<std::string> &values)
{
    std::string joined;
    for (const std::string &value : values) {
        if (value.empty())
            continue;
        if (!joined.empty())
            joined += '/';
        joined += value;
    }
    return joined;
}

namespace {

// The fields as libavformat names them, from the container's and the audio
// stream's metadata (Ogg keeps its comments on the stream).
Tags readLibavTags(const AVFormatContext *format, const AVStream *audio)
{
    Tags tags;
    tags.title = lookUp(format, audio, {"title"});
    tags.artist = lookUp(format, audio, {"artist", "author"});
    tags.album = lookUp(format, audio, {"album"});
    tags.albumArtist = lookUp(format, audio, {"album_artist", "albumartist", "album artist"});
    tags.track = withTotal(lookUp(format, audio, {"track", "tracknumber"}),
                           lookUp(format, audio, {"tracktotal", "totaltracks"}));
    tags.disc = withTotal(lookUp(format, audio, {"disc", "discnumber"}),
                          lookUp(format, audio, {"disctotal", "totaldiscs"}));
    tags.date = lookUp(format, audio, {"date", "year"});
    tags.genre = lookUp(format, audio, {"genre"});
    tags.comment = lookUp(format, audio, {"comment", "description"});
    tags.composer = lookUp(format, audio, {"composer"});
    tags.lyrics = lookUp(format, audio, {"lyrics"});
    tags.copyright = lookUp(format, audio, {"copyright"});
    // TagLib maps neither of ASF's two below.
    tags.compilation = isTrue(lookUp(format, audio, {"compilation", "WM/IsCompilation"}));
    tags.composerSort = lookUp(format, audio, {"composer-sort", "WM/ComposerSortOrder"});
    for (const char *key : {"REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"}) {
        const std::string value = lookUp(format, audio, {key});
        if (!value.empty())
            tags.userTexts.emplace_back(key, value);
    }
    return tags;
}

} // namespace

Tags readTags(const std::string &path, const AVFormatContext *format, const AVStream *audio)
{
    Tags tags = readTagLibTags(path);
    const Tags fallback = readLibavTags(format, audio);
    for (auto [field, other] : {std::pair{&tags.title, &fallback.title}, {&tags.artist, &fallback.artist},
                                {&tags.album, &fallback.album}, {&tags.albumArtist, &fallback.albumArtist},
                                {&tags.track, &fallback.track}, {&tags.disc, &fallback.disc},
                                {&tags.date, &fallback.date}, {&tags.genre, &fallback.genre},
                                {&tags.comment, &fallback.comment}, {&tags.composer, &fallback.composer},
                                {&tags.lyrics, &fallback.lyrics}, {&tags.copyright, &fallback.copyright},
                                {&tags.composerSort, &fallback.composerSort}})
        fill(*field, *other);
    // From RIFF INFO TagLib gives only the year of a full date and the track
    // number without its total.
    for (auto [field, other] : {std::pair{&tags.date, &fallback.date}, {&tags.track, &fallback.track},
                                {&tags.disc, &fallback.disc}})
        if (other->size() > field->size() && other->compare(0, field->size(), *field) == 0)
            *field = *other;
    tags.compilation = tags.compilation || fallback.compilation;
    for (const auto &text : fallback.userTexts) {
        bool present = false;
        for (const auto &own : tags.userTexts)
            present = present || own.first == text.first;
        if (!present)
            tags.userTexts.push_back(text);
    }
    return tags;
}

bool readCover(const AVFormatContext *format, Picture &picture)
{
    const AVStream *chosen = nullptr;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        const AVPacket &packet = stream->attached_pic;
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || !pictureMimeType(stream->codecpar->codec_id)
            || packet.size <= 0 || static_cast<std::size_t>(packet.size) > maxPictureBytes)
            continue;
        if (!chosen || (isFrontCover(stream) && !isFrontCover(chosen)))
            chosen = stream;
    }
    if (!chosen)
        return false;
    picture.mimeType = pictureMimeType(chosen->codecpar->codec_id);
    picture.data.assign(chosen->attached_pic.data, chosen->attached_pic.data + chosen->attached_pic.size);
    return true;
}
