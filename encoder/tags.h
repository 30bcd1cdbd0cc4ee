#pragma once

#include <cstdint>
#include <string>
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
};

struct Picture
{
    std::string mimeType; // "image/jpeg" or "image/png"
    std::vector<uint8_t> data;
};

// Reads the tags from the container's metadata, then from the audio
// stream's (Ogg keeps its Vorbis comments there), under the names
// libavformat gives them for Vorbis comments, ID3, MP4 atoms and RIFF INFO.
Tags readTags(const AVFormatContext *format, const AVStream *audio);

// The input's cover picture (an attached JPEG or PNG), if it has one.
bool readCover(const AVFormatContext *format, Picture &picture);
