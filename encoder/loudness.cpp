#include "loudness.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <pthread.h>

namespace {

constexpr double referenceLoudness = -18.0; // LUFS, ReplayGain 2.0

// Gains beyond this are no measurement any player should follow; they also
// bound the text's length, which the tag's reserved room relies on.
constexpr double largestGain = 99.99;

constexpr std::size_t samplesPerBatch = 32768; // per channel, under a second of audio
constexpr std::size_t batchesQueued = 4;

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

// Appends a planar frame to an interleaved float batch, scaling integer
// samples to -1..1 as libebur128 itself would.
template<typename Sample>
void appendInterleaved(const AVFrame &frame, int channels, double scale, std::vector<float> &batch)
{
    const std::size_t start = batch.size();
    batch.resize(start + static_cast<std::size_t>(frame.nb_samples) * channels);
    float *out = batch.data() + start;
    for (int c = 0; c < channels; ++c) {
        const auto *in = reinterpret_cast<const Sample *>(frame.extended_data[c]);
        for (int i = 0; i < frame.nb_samples; ++i)
            out[static_cast<std::size_t>(i) * channels + c] = static_cast<float>(in[i] * scale);
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
    channels_ = format.channels;
    state_.reset(ebur128_init(static_cast<unsigned>(format.channels), static_cast<unsigned long>(format.sampleRate),
                              EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK));
    if (!state_)
        return Status::failure("cannot measure the loudness: out of memory");
    filling_.reserve(samplesPerBatch * channels_);

    // Stop requests stay with the main thread, whose blocking calls they
    // are to interrupt.
    sigset_t stopSignals;
    sigset_t previous;
    sigemptyset(&stopSignals);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stopSignals, signalNumber);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    try {
        thread_ = std::thread(&LoudnessMeter::measureBatches, this);
    } catch (const std::system_error &) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return Status::failure("cannot measure the loudness: no thread can be started");
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return Status::success();
}

Status LoudnessMeter::add(const AVFrame &frame)
{
    switch (frame.format) {
    case AV_SAMPLE_FMT_S16P:
        appendInterleaved<int16_t>(frame, channels_, 1.0 / 32768.0, filling_);
        break;
    case AV_SAMPLE_FMT_S32P:
        appendInterleaved<int32_t>(frame, channels_, 1.0 / 2147483648.0, filling_);
        break;
    case AV_SAMPLE_FMT_FLTP:
        appendInterleaved<float>(frame, channels_, 1.0, filling_);
        break;
    default:
        return Status::failure(std::string("cannot measure the loudness of ")
                               + av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame.format)) + " samples");
    }
    if (filling_.size() >= samplesPerBatch * channels_)
        handOver(false);
    return Status::success();
}

// Queues the batch being filled (waiting while the queue is full) and
// starts a new one from a measured batch's buffer.
void LoudnessMeter::handOver(bool last)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return full_.size() < batchesQueued; });
    if (!filling_.empty())
        full_.push_back(std::move(filling_));
    ending_ = last;
    filling_.clear();
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
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
        const int error = ebur128_add_frames_float(state_.get(), batch.data(), batch.size() / channels_);
        batch.clear();
        lock.lock();
        if (error != EBUR128_SUCCESS)
            error_ = error;
        spare_.push_back(std::move(batch));
        changed_.notify_all();
    }
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

Status LoudnessMeter::result(std::string &gain, std::string &peak)
{
    handOver(true);
    thread_.join();
    if (error_ != EBUR128_SUCCESS)
        return ebur128Failure("adding samples", error_);

    double loudness = 0.0;
    int error = ebur128_loudness_global(state_.get(), &loudness);
    if (error != EBUR128_SUCCESS)
        return ebur128Failure("integrated loudness", error);
    double largest = 0.0;
    for (unsigned c = 0; c < static_cast<unsigned>(channels_); ++c) {
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
