#pragma once

#include <string>

// The probe without FFmpeg's libraries: the length of a file's audio in whole
// seconds, read with TagLib from headers that state it exactly (WAV, AIFF,
// FLAC, MP3 with a Xing or VBRI frame, Ogg Vorbis and Opus, M4A), computed
// as the converter's own probe computes it, so that both give the same
// answer. Returns false for everything it cannot answer with that certainty:
// other formats, lengths TagLib only estimates, files that are cut short,
// written as a stream, damaged or odd, anything but a regular file (never
// opened in a way that blocks). The caller then asks the converter.
bool probeWithTagLib(const std::string &path, long &seconds);
