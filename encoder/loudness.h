#pragma once

#include "resampler.h"
#include "status.h"

#include <memory>
#include <string>
#include <vector>

#include <ebur128.h>

// ReplayGain 2.0 values of what the encoder is fed, measured with
// libebur128 while the audio passes: the integrated loudness (EBU R128)
// against a reference of -18 LUFS, and the largest sample.
class LoudnessMeter
{
public:
    LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;
    ~LoudnessMeter();

    Status open(const AudioFormat &format);

    // A planar frame in the format given to open().
    Status add(const AVFrame &frame);

    // "REPLAYGAIN_TRACK_GAIN" as "-6.52 dB" and "REPLAYGAIN_TRACK_PEAK" as
    // "0.988547". The gain stays empty when the audio is too quiet or too
    // short to have a loudness (all of it below the -70 LUFS gate, or less
    // than one 400 ms block): no value is better than an invented one.
    Status result(std::string &gain, std::string &peak) const;

    // The longest texts result() gives, to reserve room for them.
    static constexpr const char *longestGain = "+99.99 dB";
    static constexpr const char *longestPeak = "99.000000";

private:
    template<typename Sample>
    const Sample *interleave(const AVFrame &frame);

    struct StateDeleter
    {
        void operator()(ebur128_state *state) const;
    };
    std::unique_ptr<ebur128_state, StateDeleter> state_;
    AudioFormat format_;
    std::vector<unsigned char> interleaved_; // scratch buffer, reused frame after frame
};

