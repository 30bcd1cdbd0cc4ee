#pragma once

// Whole seconds of `ticks` in units of 1/`rate`, computed as the converter's
// probe computes them from libavformat's duration and time base (a double
// product, truncated), so that both paths round alike.
inline long wholeSeconds(long long ticks, long long rate)
{
    return static_cast<long>(static_cast<double>(ticks) * (1.0 / static_cast<double>(rate)));
}
