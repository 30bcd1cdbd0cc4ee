#pragma once

#include <cstdint>
#include <map>
#include <string>

// The loudness of a track's 400 ms gating blocks (EBU R128, ITU-R BS.1770),
// kept as a histogram at 0.01 dB, fine enough that the integrated loudness
// of several tracks together - an album - follows from their histograms
// alone, within a few thousandths of a dB of measuring all their blocks.
// Plain C++: the album gain reads it back from the text the conversion
// printed.
class BlockHistogram
{
public:
    // One block's loudness in LUFS; blocks below the absolute gate
    // (-70 LUFS) do not count, as in the integrated loudness.
    void addBlock(double loudness);

    // Adds the blocks of another track.
    void merge(const BlockHistogram &other);

    // The integrated loudness of all blocks (absolute gate -70 LUFS, then
    // relative gate 10 LU below the loudness of the blocks above it); false
    // when no block passes the absolute gate.
    bool integratedLoudness(double &loudness) const;

    std::uint64_t blocks() const;

    // The histogram and the track's largest sample on one line of at most
    // a few KB (printable ASCII, no blanks at either end): a long track's
    // bins are widened to 0.02, 0.05 or 0.1 dB to keep it short.
    std::string text(double peak) const;

    // Reads what text() wrote; false, with histogram and peak unchanged,
    // when the text is not of that form.
    static bool parse(const std::string &text, BlockHistogram &histogram, double &peak);

private:
    // Blocks by loudness in hundredths of a dB, each at its bin's centre.
    std::map<int, std::uint64_t> bins_;
};

// The mean square energy of a loudness in LUFS, and the loudness of an
// energy, as BS.1770 relates them.
double energyOf(double loudness);
double loudnessOf(double energy);

// ReplayGain 2.0 texts: the gain against a reference of -18 LUFS as
// "-6.52 dB" (kept within +-99.99 dB), and a peak as "0.988547".
std::string replayGainText(double loudness);
std::string replayPeakText(double peak);
