#pragma once

#include "common/status.h"

#include <string>

struct ConversionOptions
{
    // The ReplayGain values in the tag (off only to price the measurement).
    bool measureLoudness = true;
};

// Converts the input's best audio stream to a VBR MP3 at outputPath
// (quality 0..99), reporting progress on standard error. The MP3 appears at
// outputPath only when complete; on any failure or stop request nothing
// there changes.
Status convert(const std::string &inputPath, int quality, const std::string &outputPath,
               const ConversionOptions &options = {});
