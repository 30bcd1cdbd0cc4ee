#pragma once

#include "common/status.h"

#include <string>
#include <vector>

// What the command line asks for. Exactly three shapes are accepted:
//   ffmpeg -i <input>                                       probe
//   ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>   conversion
//   ffmpeg -album-gain <mp3>...                             album gain
struct Request
{
    enum class Kind { Probe, Convert, AlbumGain };

    Kind kind = Kind::Probe;
    std::string input;
    std::string output;             // conversion only
    int quality = 0;                // conversion only, 0..99
    std::vector<std::string> mp3s; // album gain only, at least one
};

Status parseArguments(int argc, const char *const *argv, Request &request);

// Accepts only plain decimal digits with a value of 0..99: no sign, no
// blanks, no suffix.
bool parseQuality(const std::string &text, int &quality);

// LAME's VBR level for a quality: 0..9 gives V9 (smallest) ... 90..99 gives
// V0 (best). Whole steps keep the file size monotonic in the quality.
int lameVbrLevel(int quality);
