#pragma once

#include "common/status.h"
#include "encode/resampler.h"
#include "loudness/blockhistogram.h"

#include <ebur128.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// ReplayGain 2.0 values of what the encoder is fed, measured with
// libebur128 while the audio passes: the integrated loudness (EBU R128)
// against a reference of -18 LUFS, and the largest sample.
//
// The measurement costs about a fifteenth of the encoding time, so it runs on a
// thread of its own: the conversion hands it batches of samples and only
// waits for it when it falls several batches behind, and at the end.
class LoudnessMeter
{
public:
    LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;
    ~LoudnessMeter(); // stops the thread, dropping what it has not measured

    Status open(const AudioFormat &format);

    // A planar frame in the format given to open().
    Status add(const AVFrame &frame);

    // After the last add(): "REPLAYGAIN_TRACK_GAIN" as "-6.52 dB" and
    // "REPLAYGAIN_TRACK_PEAK" as "0.988547". The gain stays empty when the
    // audio is too quiet or too short to have a loudness (all of it below
    // the -70 LUFS gate, or less than one 400 ms block): no value is better
    // than an invented one. blocks is the loudness of the gating blocks and
    // the peak, as BlockHistogram::text() gives them, for the album gain.
    Status result(std::string &gain, std::string &peak, std::string &blocks);

    // The longest texts result() gives, to reserve room for them.
    static constexpr const char *longestGain = "+99.99 dB";
    static constexpr const char *longestPeak = "99.000000";

private:
    // Interleaved samples, as libebur128 takes them, with room for
    // samplesPerBatch of each channel; the main thread interleaves them
    // from the encoder's planar frames.
    struct Batch
    {
        std::vector<uint8_t> bytes;
        int samples = 0;
    };

    void handOver(bool last);
    void measureBatches();
    int measure(const Batch &batch);
    int endStep();
    void stop();

    struct StateDeleter
    {
        void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, StateDeleter> state_;
    AudioFormat format_;
    int bytesPerSample_ = 0;
    Batch filling_;
    // The measuring thread's own.
    std::size_t samplesIn100ms_ = 0;
    std::size_t samplesToStepEnd_ = 0; // until the next 100 ms step ends
    bool stepsAreWindows_ = false;     // libebur128's 100 ms window is one step
    std::array<double, 4> stepEnergies_{}; // of the last four steps, by step number
    std::size_t steps_ = 0;
    BlockHistogram blocks_;

    // Shared with the measuring thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> full_;
    std::vector<Batch> spare_;
    bool ending_ = false;
    int error_ = EBUR128_SUCCESS;
    std::thread thread_;
};
