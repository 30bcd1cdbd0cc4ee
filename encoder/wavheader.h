#pragma once

#include <cstdint>
#include <string>

// Bytes of audio the data chunk of a RIFF WAVE file announces, or 0 when
// the file is no such file or announces no size (a file written as a
// stream has 0 or 0xFFFFFFFF there). libavformat drops a size that runs
// past the end of the file, so a WAV cut short could not be told from one
// written as a stream without this.
uint64_t announcedWavDataBytes(const std::string &path);
