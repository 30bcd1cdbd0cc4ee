#include "loudness/loudness.h"

#include "common/interruption.h"

#include "loudness/blockhistogram.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pthread.h>

namespace {

constexpr std::size_t samplesPerBatch = 32768; // per channel, under a second of audio
constexpr std::size_t batchesQueued = 4;

Status ebur128Failure(const char *what, int error)
{
    return Status::failure(std::string("cannot measure the loudness (") + what + ", error " + std::to_string(error)
                           + ")");
}

// Samples of each plane from `first` on, `count` of them, into interleaved.
template<typename Sample>
void interleave(const AVFrame &frame, int first, int count, int channels, uint8_t *interleaved)
{
    auto *out = reinterpret_cast<Sample *>(interleaved);
    for (int c = 0; c < channels; ++c) {
        const auto *in = reinterpret_cast<const Sample *>(frame.extended_data[c]) + first;
        for (int i = 0; i < count; ++i)
            out[static_cast<std::size_t>(i) * channels + c] = in[i];
    }
}

} // namespace

LoudnessMeter::LoudnessMeter() = default;

LoudnessMeter::~LoudnessMeter()
{
    stop();
}

Status LoudnessMeter::open(const AudioFormat &format)
{
    format_ = format;
    bytesPerSample_ = av_get_bytes_per_sample(format.sampleFormat);
    if (format.sampleFormat != AV_SAMPLE_FMT_S16P && format.sampleFormat != AV_SAMPLE_FMT_S32P
        && format.sampleFormat != AV_SAMPLE_FMT_FLTP)
        return Status::failure(std::string("cannot measure the loudness of ")
                               + av_get_sample_fmt_name(format.sampleFormat) + " samples");
    // The gating blocks are measured here (the histogram gives the
    // integrated loudness), so libebur128 only filters the samples and
    // keeps the last 400 ms: its own integrated mode would measure every
    // block a second time.
    state_.reset(ebur128_init(static_cast<unsigned>(format.channels), static_cast<unsigned long>(format.sampleRate),
                              EBUR128_MODE_M | EBUR128_MODE_SAMPLE_PEAK));
    if (!state_)
        return Status::failure("cannot measure the loudness: out of memory");
    filling_.bytes.resize(samplesPerBatch * format.channels * bytesPerSample_);
    // A block of 400 ms starts every 100 ms, each step rounded to whole
    // samples as libebur128 rounds it. Where its 100 ms window is that step
    // exactly, a block's energy is the mean of its four steps' energies, so
    // each step's samples are summed once instead of four times.
    samplesIn100ms_ = (static_cast<std::size_t>(format.sampleRate) + 5) / 10;
    samplesToStepEnd_ = samplesIn100ms_;
    stepsAreWindows_ = static_cast<std::size_t>(format.sampleRate) / 10 == samplesIn100ms_;
    steps_ = 0;

    const interruption::StopSignalsBlocked blocked;
    try {
        thread_ = std::thread(&LoudnessMeter::measureBatches, this);
    } catch (const std::system_error &) {
        return Status::failure("cannot measure the loudness: no thread can be started");
    }
    return Status::success();
}

Status LoudnessMeter::add(const AVFrame &frame)
{
    int copied = 0;
    while (copied < frame.nb_samples) {
        const int count = std::min(frame.nb_samples - copied, static_cast<int>(samplesPerBatch) - filling_.samples);
        uint8_t *to = filling_.bytes.data()
                      + static_cast<std::size_t>(filling_.samples) * format_.channels * bytesPerSample_;
        switch (format_.sampleFormat) {
        case AV_SAMPLE_FMT_S16P:
            interleave<int16_t>(frame, copied, count, format_.channels, to);
            break;
        case AV_SAMPLE_FMT_S32P:
            interleave<int32_t>(frame, copied, count, format_.channels, to);
            break;
        default:
            interleave<float>(frame, copied, count, format_.channels, to);
            break;
        }
        filling_.samples += count;
        copied += count;
        if (filling_.samples == static_cast<int>(samplesPerBatch))
            handOver(false);
    }
    return Status::success();
}

// Queues the batch being filled (waiting while the queue is full) and
// starts a new one from a measured batch's buffer.
void LoudnessMeter::handOver(bool last)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return full_.size() < batchesQueued; });
    if (filling_.samples > 0)
        full_.push_back(std::move(filling_));
    ending_ = last;
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        filling_.bytes.resize(samplesPerBatch * format_.channels * bytesPerSample_);
    }
    filling_.samples = 0;
    changed_.notify_all();
}

void LoudnessMeter::measureBatches()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !full_.empty() || ending_; });
        if (full_.empty())
            return;
        Batch batch = std::move(full_.front());
        full_.pop_front();
        lock.unlock();
        const int error = measure(batch);
        lock.lock();
        if (error != EBUR128_SUCCESS)
            error_ = error;
        spare_.push_back(std::move(batch));
        changed_.notify_all();
    }
}

// The samples are given to libebur128 up to the end of each 100 ms step,
// and from the fourth step on each step ends a gating block: the track's
// and the album's loudness are computed from the blocks.
int LoudnessMeter::measure(const Batch &batch)
{
    const uint8_t *samples = batch.bytes.data();
    const std::size_t frameBytes = static_cast<std::size_t>(format_.channels) * bytesPerSample_;
    for (std::size_t done = 0; done < static_cast<std::size_t>(batch.samples);) {
        const std::size_t frames = std::min(static_cast<std::size_t>(batch.samples) - done, samplesToStepEnd_);
        const void *start = samples + done * frameBytes;
        int error = EBUR128_SUCCESS;
        switch (format_.sampleFormat) {
        case AV_SAMPLE_FMT_S16P:
            error = ebur128_add_frames_short(state_.get(), static_cast<const int16_t *>(start), frames);
            break;
        case AV_SAMPLE_FMT_S32P:
            error = ebur128_add_frames_int(state_.get(), static_cast<const int32_t *>(start), frames);
            break;
        default:
            error = ebur128_add_frames_float(state_.get(), static_cast<const float *>(start), frames);
            break;
        }
        if (error != EBUR128_SUCCESS)
            return error;
        done += frames;
        samplesToStepEnd_ -= frames;
        if (samplesToStepEnd_ == 0) {
            if (int stepError = endStep(); stepError != EBUR128_SUCCESS)
                return stepError;
            samplesToStepEnd_ = samplesIn100ms_;
        }
    }
    return EBUR128_SUCCESS;
}

int LoudnessMeter::endStep()
{
    double loudness = 0.0;
    if (stepsAreWindows_) {
        const int error = ebur128_loudness_window(state_.get(), 100, &loudness);
        if (error != EBUR128_SUCCESS)
            return error;
        stepEnergies_[steps_ % stepEnergies_.size()] = energyOf(loudness);
    }
    if (++steps_ < stepEnergies_.size())
        return EBUR128_SUCCESS;
    if (stepsAreWindows_) {
        double sum = 0.0;
        for (const double energy : stepEnergies_)
            sum += energy;
        loudness = loudnessOf(sum / static_cast<double>(stepEnergies_.size()));
    } else if (const int error = ebur128_loudness_momentary(state_.get(), &loudness); error != EBUR128_SUCCESS) {
        return error;
    }
    blocks_.addBlock(loudness);
    return EBUR128_SUCCESS;
}

void LoudnessMeter::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        full_.clear();
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

Status LoudnessMeter::result(std::string &gain, std::string &peak, std::string &blocks)
{
    handOver(true);
    thread_.join();
    if (error_ != EBUR128_SUCCESS)
        return ebur128Failure("adding samples", error_);

    double largest = 0.0;
    for (unsigned c = 0; c < static_cast<unsigned>(format_.channels); ++c) {
        double channelPeak = 0.0;
        const int error = ebur128_sample_peak(state_.get(), c, &channelPeak);
        if (error != EBUR128_SUCCESS)
            return ebur128Failure("sample peak", error);
        largest = std::max(largest, channelPeak);
    }
    double loudness = 0.0;
    gain = blocks_.integratedLoudness(loudness) ? replayGainText(loudness) : std::string();
    peak = replayPeakText(largest);
    blocks = blocks_.text(largest);
    return Status::success();
}
