#include "loudness/blockhistogram.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr double absoluteGate = -70.0; // LUFS
constexpr double relativeGate = -10.0; // LU below the loudness above the absolute gate
constexpr double referenceLoudness = -18.0; // LUFS, ReplayGain 2.0

// Gains beyond this are no measurement any player should follow; they also
// bound the text's length, which the tag's reserved room relies on.
constexpr double largestGain = 99.99;

// Bin widths in hundredths of a dB, finest first, and the text's length
// that makes the next one be taken.
constexpr int binWidths[] = {1, 2, 5, 10};
constexpr std::size_t longestText = 4096;

// Bins outside this range (hundredths of a dB) are no block's loudness.
constexpr int lowestBin = -7100;
constexpr int highestBin = 10000;

constexpr char textTag[] = "r128/1";

// The whole text parsed as a decimal integer.
bool parseInteger(const std::string &text, long long &value)
{
    if (text.empty() || text.size() > 18)
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size() && (std::isdigit(static_cast<unsigned char>(text[0]))
                                                                || text[0] == '-');
}

// "<key>=<value>" as the next blank-separated word of text at pos.
bool takeField(const std::string &text, std::size_t &pos, const char *key, std::string &value)
{
    const std::string prefix = std::string(key) + "=";
    if (text.compare(pos, prefix.size(), prefix) != 0)
        return false;
    const std::size_t start = pos + prefix.size();
    const std::size_t blank = text.find(' ', start);
    const std::size_t end = blank == std::string::npos ? text.size() : blank;
    value = text.substr(start, end - start);
    pos = blank == std::string::npos ? text.size() : blank + 1;
    return true;
}

// The bins as widened to width, by bin number (centre = number * width).
std::map<long, std::uint64_t> widened(const std::map<int, std::uint64_t> &bins, int width)
{
    std::map<long, std::uint64_t> result;
    for (const auto &[bin, count] : bins)
        result[std::lround(static_cast<double>(bin) / width)] += count;
    return result;
}

// Bins as "[gap][:count]" entries, separated by commas, from the bin
// before the first one: a gap of 1 and a count of 1 are left out.
std::string binEntries(const std::map<long, std::uint64_t> &bins)
{
    std::string entries;
    long previous = bins.empty() ? 0 : bins.begin()->first - 1;
    for (const auto &[bin, count] : bins) {
        if (!entries.empty() || bin != bins.begin()->first)
            entries += ',';
        if (bin - previous != 1)
            entries += std::to_string(bin - previous);
        if (count != 1)
            entries += ':' + std::to_string(count);
        previous = bin;
    }
    return entries;
}

} // namespace

double energyOf(double loudness)
{
    return std::pow(10.0, (loudness + 0.691) / 10.0);
}

double loudnessOf(double energy)
{
    return 10.0 * std::log10(energy) - 0.691;
}

void BlockHistogram::addBlock(double loudness)
{
    if (!(loudness >= absoluteGate) || !std::isfinite(loudness))
        return;
    ++bins_[static_cast<int>(std::lround(std::min(loudness * 100.0, static_cast<double>(highestBin))))];
}

void BlockHistogram::merge(const BlockHistogram &other)
{
    for (const auto &[bin, count] : other.bins_)
        bins_[bin] += count;
}

std::uint64_t BlockHistogram::blocks() const
{
    std::uint64_t total = 0;
    for (const auto &bin : bins_)
        total += bin.second;
    return total;
}

bool BlockHistogram::integratedLoudness(double &loudness) const
{
    double sum = 0.0;
    double counted = 0.0;
    for (const auto &[bin, count] : bins_) {
        sum += static_cast<double>(count) * energyOf(bin / 100.0);
        counted += static_cast<double>(count);
    }
    if (counted == 0.0)
        return false;
    const double threshold = sum / counted * std::pow(10.0, relativeGate / 10.0);
    double gated = 0.0;
    double gatedCount = 0.0;
    for (const auto &[bin, count] : bins_) {
        const double binEnergy = energyOf(bin / 100.0);
        if (binEnergy >= threshold) {
            gated += static_cast<double>(count) * binEnergy;
            gatedCount += static_cast<double>(count);
        }
    }
    // The bins above the mean are never gated, so gatedCount > 0.
    loudness = loudnessOf(gated / gatedCount);
    return true;
}

// "r128/1 peak=<peak> width=<hundredths of a dB> from=<first bin number>
// blocks=<count> bins=<entries>".
std::string BlockHistogram::text(double peak) const
{
    char peakText[32];
    std::snprintf(peakText, sizeof peakText, "%.9g", std::isfinite(peak) ? std::max(peak, 0.0) : 0.0);
    std::string line;
    for (const int width : binWidths) {
        const std::map<long, std::uint64_t> bins = widened(bins_, width);
        line = std::string(textTag) + " peak=" + peakText + " width=" + std::to_string(width)
            + " from=" + std::to_string(bins.empty() ? 0 : bins.begin()->first) + " blocks="
            + std::to_string(blocks()) + " bins=" + binEntries(bins);
        if (line.size() <= longestText)
            break;
    }
    return line;
}

bool BlockHistogram::parse(const std::string &text, BlockHistogram &histogram, double &peak)
{
    std::size_t pos = 0;
    std::string peakText, widthText, fromText, blocksText, entries;
    if (text.compare(0, sizeof textTag - 1, textTag) != 0 || text.size() <= sizeof textTag - 1
        || text[sizeof textTag - 1] != ' ')
        return false;
    pos = sizeof textTag;
    if (!takeField(text, pos, "peak", peakText) || !takeField(text, pos, "width", widthText)
        || !takeField(text, pos, "from", fromText) || !takeField(text, pos, "blocks", blocksText)
        || !takeField(text, pos, "bins", entries) || pos != text.size())
        return false;

    char *end = nullptr;
    errno = 0;
    const double parsedPeak = std::strtod(peakText.c_str(), &end);
    long long width = 0, bin = 0, expected = 0;
    if (peakText.empty() || errno != 0 || end != peakText.c_str() + peakText.size() || !std::isfinite(parsedPeak)
        || parsedPeak < 0.0 || !parseInteger(widthText, width)
        || std::find(std::begin(binWidths), std::end(binWidths), width) == std::end(binWidths)
        || !parseInteger(fromText, bin) || bin < lowestBin || bin > highestBin
        || !parseInteger(blocksText, expected) || expected < 0)
        return false;

    std::map<int, std::uint64_t> bins;
    std::uint64_t total = 0;
    --bin;
    for (std::size_t start = 0; expected > 0 && start <= entries.size();) {
        std::size_t comma = entries.find(',', start);
        if (comma == std::string::npos)
            comma = entries.size();
        const std::string entry = entries.substr(start, comma - start);
        const std::size_t colon = entry.find(':');
        const std::string gapText = entry.substr(0, colon);
        long long gap = 1, count = 1;
        if ((!gapText.empty() && !parseInteger(gapText, gap))
            || (colon != std::string::npos && !parseInteger(entry.substr(colon + 1), count)) || gap < 1
            || gap > highestBin - lowestBin || count < 1 || count > expected - static_cast<long long>(total))
            return false;
        bin += gap;
        const long long centre = bin * width;
        if (centre < lowestBin || centre > highestBin)
            return false;
        bins[static_cast<int>(centre)] += static_cast<std::uint64_t>(count);
        total += static_cast<std::uint64_t>(count);
        start = comma + 1;
    }
    if (total != static_cast<std::uint64_t>(expected) || (expected == 0 && !entries.empty()))
        return false;
    histogram.bins_ = std::move(bins);
    peak = parsedPeak;
    return true;
}

std::string replayGainText(double loudness)
{
    const double gain = std::clamp(referenceLoudness - loudness, -largestGain, largestGain);
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", gain);
    return text;
}

std::string replayPeakText(double peak)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", std::clamp(peak, 0.0, 99.0));
    return text;
}
