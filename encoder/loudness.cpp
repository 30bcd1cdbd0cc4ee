#include "loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double referenceLoudness = -18.0; // LUFS, ReplayGain 2.0

// Gains beyond this are no measurement any player should follow; they also
// bound the text's length, which the tag's reserved room relies on.
constexpr double largestGain = 99.99;

Status ebur128Failure(const char *what, int error)
{
    return Status::failure(std::string("cannot measure the loudness (") + what + ", error " + std::to_string(error)
                           + ")");
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

} // namespace

void LoudnessMeter::StateDeleter::operator()(ebur128_state *state) const
{
    ebur128_destroy(&state);
}

LoudnessMeter::LoudnessMeter() = default;
LoudnessMeter::~LoudnessMeter() = default;

Status LoudnessMeter::open(const AudioFormat &format)
{
    format_ = format;
    state_.reset(ebur128_init(static_cast<unsigned>(format.channels), static_cast<unsigned long>(format.sampleRate),
                              EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK));
    if (!state_)
        return Status::failure("cannot measure the loudness: out of memory");
    return Status::success();
}

// libebur128 takes interleaved samples; the encoder's frames are planar.
template<typename Sample>
const Sample *LoudnessMeter::interleave(const AVFrame &frame)
{
    const int channels = format_.channels;
    const std::size_t count = static_cast<std::size_t>(frame.nb_samples) * channels;
    interleaved_.resize(count * sizeof(Sample));
    auto *out = reinterpret_cast<Sample *>(interleaved_.data());
    for (int c = 0; c < channels; ++c) {
        const auto *in = reinterpret_cast<const Sample *>(frame.extended_data[c]);
        for (int i = 0; i < frame.nb_samples; ++i)
            out[static_cast<std::size_t>(i) * channels + c] = in[i];
    }
    return out;
}

Status LoudnessMeter::add(const AVFrame &frame)
{
    const auto samples = static_cast<std::size_t>(frame.nb_samples);
    int error = EBUR128_SUCCESS;
    switch (format_.sampleFormat) {
    case AV_SAMPLE_FMT_S16P:
        error = ebur128_add_frames_short(state_.get(), interleave<int16_t>(frame), samples);
        break;
    case AV_SAMPLE_FMT_S32P:
        error = ebur128_add_frames_int(state_.get(), interleave<int32_t>(frame), samples);
        break;
    case AV_SAMPLE_FMT_FLTP:
        error = ebur128_add_frames_float(state_.get(), interleave<float>(frame), samples);
        break;
    case AV_SAMPLE_FMT_DBLP:
        error = ebur128_add_frames_double(state_.get(), interleave<double>(frame), samples);
        break;
    default:
        return Status::failure(std::string("cannot measure the loudness of ")
                               + av_get_sample_fmt_name(format_.sampleFormat) + " samples");
    }
    return error == EBUR128_SUCCESS ? Status::success() : ebur128Failure("adding samples", error);
}

Status LoudnessMeter::result(std::string &gain, std::string &peak) const
{
    double loudness = 0.0;
    int error = ebur128_loudness_global(state_.get(), &loudness);
    if (error != EBUR128_SUCCESS)
        return ebur128Failure("integrated loudness", error);
    double largest = 0.0;
    for (unsigned c = 0; c < static_cast<unsigned>(format_.channels); ++c) {
        double channelPeak = 0.0;
        error = ebur128_sample_peak(state_.get(), c, &channelPeak);
        if (error != EBUR128_SUCCESS)
            return ebur128Failure("sample peak", error);
        largest = std::max(largest, channelPeak);
    }
    gain = std::isfinite(loudness) ? replayGainText(loudness) : std::string();
    peak = replayPeakText(largest);
    return Status::success();
}
