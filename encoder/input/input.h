#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "input/patchedio.h"

#include <memory>
#include <string>

// An input file opened as a plain local file, with its best audio stream.
struct Input
{
    libav::IoContextPtr io;        // the file itself, opened by the tool
    std::unique_ptr<PatchedIo> patched; // io with a streamed file's length fields filled in
    libav::InputFormatPtr format;  // the demuxer reading from io (or patched)
    AVStream *audio = nullptr;
    bool streamInfoRead = false;   // avformat_find_stream_info has run

    // Length of the audio stream in seconds as the container's header states
    // it exactly (FLAC, AIFF, MP4, ...), or a negative value when the header
    // gives none or only an estimate. Lets a cut-short file be told from a
    // short one.
    double statedSeconds = -1.0;
};

// Refuses anything but an existing regular file (folders, FIFOs, devices)
// before it is opened, then opens it with the "file" protocol only: no
// network, no playlists or concatenation lists that name other files, and
// no demuxer may open a second file. A WAV, RF64, Wave64 or AIFF written as a
// stream (placeholder lengths) is read to the end of the file.
Status openInput(const std::string &path, Input &input);

// Runs avformat_find_stream_info once (for containers whose header does not
// describe the streams, and for duration estimates).
Status readStreamInfo(Input &input);
