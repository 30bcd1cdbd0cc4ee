#pragma once

#include "common/status.h"

struct AVFrame;

// Float samples that cannot be audio (NaN, infinite, or so far beyond full
// scale that they can only be damage) make LAME abort and spoil the loudness
// measurement. repairSamples() sets each such sample of a decoded frame to
// silence (NaN, infinite) or full scale (a finite value beyond the limit) and
// adds their number to repaired. Integer frames, and float frames without
// such samples, are left exactly as they are: ordinary overs of a float file
// (well below the limit) pass on as before.
Status repairSamples(AVFrame &frame, long &repaired);

// Beyond this (24 dB over full scale) a float sample is taken for damage.
inline constexpr double kDamagedSampleLimit = 16.0;
