#pragma once

#include "common/status.h"

#include <string>

struct ConversionOptions
{
    // The ReplayGain values in the tag (off only to price the measurement).
    bool measureLoudness = true;
};

// What a conversion found out about the track, for the "Info" lines.
struct TrackReport
{
    std::string album;
    std::string artist;
    std::string title;
    std::string track; // as the tag has it, "3" or "3/12"
    std::string disc;
    double seconds = 0.0;  // of the audio encoded
    std::string loudness;  // the gating blocks and peak; empty unless measured
};

// Converts the input's best audio stream to a VBR MP3 at outputPath
// (quality 0..99), reporting progress on standard error. The MP3 appears at
// outputPath only when complete; on any failure or stop request nothing
// there changes. A report, if given, is filled in on success.
Status convert(const std::string &inputPath, int quality, const std::string &outputPath,
               const ConversionOptions &options = {}, TrackReport *report = nullptr);
