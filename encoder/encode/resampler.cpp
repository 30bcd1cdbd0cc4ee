#include "encode/resampler.h"

#include "common/averror.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <vector>

namespace {

// Input layouts with an unknown channel order get the usual order for their
// channel count, so that a downmix matrix can be built for them.
AVChannelLayout knownLayout(const AVChannelLayout &layout)
{
    AVChannelLayout result = {};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&result, layout.nb_channels);
    else
        av_channel_layout_copy(&result, &layout);
    return result;
}

// Mono and stereo pass through channel for channel whatever their labels;
// more channels are mixed down to stereo.
AVChannelLayout outputLayout(const AVChannelLayout &input, int outputChannels)
{
    AVChannelLayout result = {};
    if (input.nb_channels == outputChannels)
        av_channel_layout_copy(&result, &input);
    else
        av_channel_layout_default(&result, outputChannels);
    return result;
}

// For channels without known positions: every output channel is the mean
// of all input channels.
Status setAveragingMatrix(SwrContext *swr, int inputChannels, int outputChannels)
{
    std::vector<double> matrix(static_cast<size_t>(inputChannels * outputChannels), 1.0 / inputChannels);
    const int error = swr_set_matrix(swr, matrix.data(), inputChannels);
    return error < 0 ? avFailure("cannot set up the channel downmix", error) : Status::success();
}

} // namespace

Status allocateFrame(const AudioFormat &format, int samples, libav::FramePtr &frame)
{
    frame.reset(av_frame_alloc());
    if (!frame)
        return Status::failure("out of memory");
    frame->format = format.sampleFormat;
    frame->sample_rate = format.sampleRate;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, format.channels);
    const int error = av_frame_get_buffer(frame.get(), 0);
    return error < 0 ? avFailure("cannot allocate sample buffers", error) : Status::success();
}

Resampler::~Resampler()
{
    av_channel_layout_uninit(&inputLayout_);
}

Status Resampler::open(const AudioFormat &output)
{
    output_ = output;
    queue_.reset(av_audio_fifo_alloc(output.sampleFormat, output.channels, 4096));
    converted_.reset(av_frame_alloc());
    if (!queue_ || !converted_)
        return Status::failure("out of memory");
    return Status::success();
}

Status Resampler::configureFor(const AVFrame &frame)
{
    AVChannelLayout input = knownLayout(frame.ch_layout);
    const bool same = swr_ && frame.format == inputFormat_ && frame.sample_rate == inputRate_
        && av_channel_layout_compare(&input, &inputLayout_) == 0;
    if (same) {
        av_channel_layout_uninit(&input);
        return Status::success();
    }
    // The input changed within the stream: what the old converter holds
    // belongs to the old input.
    if (swr_) {
        if (Status status = flush(); !status.ok())
            return status;
    }

    av_channel_layout_uninit(&inputLayout_);
    inputLayout_ = input;
    inputFormat_ = static_cast<AVSampleFormat>(frame.format);
    inputRate_ = frame.sample_rate;
    return createConverter();
}

Status Resampler::createConverter()
{
    AVChannelLayout output = outputLayout(inputLayout_, output_.channels);
    SwrContext *swr = nullptr;
    int error = swr_alloc_set_opts2(&swr, &output, output_.sampleFormat, output_.sampleRate, &inputLayout_,
                                    inputFormat_, inputRate_, 0, nullptr);
    av_channel_layout_uninit(&output);
    swr_.reset(swr);
    if (error < 0)
        return avFailure("cannot set up the resampler", error);
    // A downmix is scaled so that no output channel can exceed full scale.
    // swresample does so by itself only when it mixes in integers; this way
    // the same matrix serves every sample format.
    error = av_opt_set_double(swr, "rematrix_maxval", 1.0, 0);
    if (error < 0)
        return avFailure("cannot set up the channel downmix", error);
    if (inputLayout_.order == AV_CHANNEL_ORDER_UNSPEC && inputLayout_.nb_channels != output_.channels) {
        if (Status status = setAveragingMatrix(swr, inputLayout_.nb_channels, output_.channels); !status.ok())
            return status;
    }
    error = swr_init(swr);
    if (error < 0)
        return avFailure("cannot set up the resampler", error);
    return Status::success();
}

Status Resampler::push(const AVFrame &frame)
{
    if (frame.nb_samples <= 0)
        return Status::success();
    if (Status status = configureFor(frame); !status.ok())
        return status;
    int produced = 0;
    return convert(const_cast<const uint8_t **>(frame.extended_data), frame.nb_samples, produced);
}

Status Resampler::flush()
{
    if (!swr_)
        return Status::success();
    int produced = 0;
    do {
        if (Status status = convert(nullptr, 0, produced); !status.ok())
            return status;
    } while (produced > 0);
    swr_.reset();
    return Status::success();
}

// Converts into the scratch buffer (grown when needed) and appends to the queue.
Status Resampler::convert(const uint8_t **input, int inputSamples, int &produced)
{
    produced = 0;
    const int capacity = swr_get_out_samples(swr_.get(), inputSamples);
    if (capacity < 0)
        return avFailure("cannot resample", capacity);
    if (capacity == 0)
        return Status::success();
    AVFrame *buffer = converted_.get();
    if (buffer->nb_samples < capacity) {
        av_frame_unref(buffer);
        buffer->format = output_.sampleFormat;
        buffer->nb_samples = capacity;
        av_channel_layout_default(&buffer->ch_layout, output_.channels);
        const int error = av_frame_get_buffer(buffer, 0);
        if (error < 0)
            return avFailure("cannot allocate sample buffers", error);
    }
    produced = swr_convert(swr_.get(), buffer->extended_data, capacity, input, inputSamples);
    if (produced < 0)
        return avFailure("cannot resample", produced);
    if (produced > 0 && av_audio_fifo_write(queue_.get(), reinterpret_cast<void **>(buffer->extended_data), produced)
                            < produced)
        return Status::failure("out of memory");
    return Status::success();
}

int Resampler::queuedSamples() const
{
    return av_audio_fifo_size(queue_.get());
}

Status Resampler::pop(AVFrame &frame, int samples)
{
    if (av_audio_fifo_read(queue_.get(), reinterpret_cast<void **>(frame.extended_data), samples) < samples)
        return Status::failure("resampled audio went missing");
    frame.nb_samples = samples;
    return Status::success();
}
