#pragma once

#include "common/libav.h"
#include "common/status.h"

// The shape of the samples the encoder takes.
struct AudioFormat
{
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0;
    int channels = 0;
};

// A frame of `samples` samples in format, with its buffers.
Status allocateFrame(const AudioFormat &format, int samples, libav::FramePtr &frame);

// Converts decoded frames (any sample format, rate and channel layout, even
// changing within the stream) to the encoder's format, downmixing more than
// two channels to stereo (with one matrix whatever the sample format, scaled
// so that the mix cannot clip), and queues the result so the encoder can be
// fed frames of exactly its frame size.
class Resampler
{
public:
    Resampler() = default;
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;
    ~Resampler();

    Status open(const AudioFormat &output);

    Status push(const AVFrame &frame);

    // Drains the samples the converter still holds (at the end of the input).
    Status flush();

    int queuedSamples() const;

    // Moves `samples` queued samples into frame (allocated by the caller with
    // at least that many samples).
    Status pop(AVFrame &frame, int samples);

private:
    Status configureFor(const AVFrame &frame);
    Status createConverter();
    Status convert(const uint8_t **input, int inputSamples, int &produced);

    AudioFormat output_;
    libav::SwrPtr swr_;
    libav::AudioFifoPtr queue_;
    libav::FramePtr converted_; // scratch buffer between converter and queue

    // What the converter is set up for.
    AVSampleFormat inputFormat_ = AV_SAMPLE_FMT_NONE;
    int inputRate_ = 0;
    AVChannelLayout inputLayout_ = {};
};
