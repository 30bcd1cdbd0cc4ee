#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

// The tags carried over from the input to the MP3. Empty means absent.
struct Tags
{
    std::string title;
    std::string artist;
    std::string album;
    std::string albumArtist;
    std::string track; // "3" or "3/12"
    std::string disc;  // "1" or "1/2"
    std::string date;  // as the input has it, e.g. "2021" or "2021-05-04"
    std::string genre;
    std::string comment;
    std::string composer;
    std::string lyrics;
    std::string copyright;
    bool compilation = false;
    std::string titleSort;
    std::string artistSort;
    std::string albumSort;
    std::string albumArtistSort;
    std::string composerSort;
    std::string musicBrainzTrackId; // the recording, kept in a UFID frame
    // Values without a frame of their own (MusicBrainz ids, album gain),
    // as user text frames: description, value.
    std::vector<std::pair<std::string, std::string>> userTexts;
};

struct Picture
{
    std::string mimeType; // "image/jpeg" or "image/png"
    std::vector<uint8_t> data;
};

// The input's tags: what TagLib reads from the file at path (FLAC, Vorbis
// and Opus comments, MP4 atoms, ID3v2.2 to 2.4, APE, ASF, RIFF INFO), with
// what libavformat found filling the fields TagLib left empty (AIFF's NAME,
// AUTH, (c) and ANNO chunks, and formats TagLib does not know).
Tags readTags(const std::string &path, const AVFormatContext *format, const AVStream *audio);

// The same from TagLib's unified property names; all empty when TagLib
// cannot read the file.
Tags readTagLibTags(const std::string &path);

// The input's front cover (an attached JPEG or PNG), else its first picture.
bool readCover(const AVFormatContext *format, Picture &picture);

// The same from an MP3's APEv2 tag ("Cover Art (Front)", else another
// "Cover Art" item: a file name, a NUL, the image), which libavformat does
// not read there.
bool readApeCover(const std::string &path, Picture &picture);

// "image/jpeg" or "image/png" after the data's first bytes; nullptr for
// anything else.
const char *imageMimeType(const std::vector<uint8_t> &data);

// Largest picture carried over; ID3v2 tags cannot exceed 256 MB anyway.
constexpr std::size_t maxPictureBytes = 16 * 1024 * 1024;

// Joins a field's several values the way ID3v2.3 separates them.
std::string joinValues(const std::vector<std::string> &values);

// "3" plus a separate total of 12 becomes "3/12".
std::string withTotal(std::string number, const std::string &total);
