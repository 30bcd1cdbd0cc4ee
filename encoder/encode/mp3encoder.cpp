#include "encode/mp3encoder.h"

#include "common/arguments.h"
#include "common/averror.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <lame/lame.h>

namespace {

const AVCodec *lameEncoder()
{
    return avcodec_find_encoder_by_name("libmp3lame");
}

int nearestRate(const int *rates, int wanted)
{
    int best = 44100; // LAME's default, should the encoder list no rates
    for (; rates && *rates; ++rates)
        if (std::abs(*rates - wanted) < std::abs(best - wanted))
            best = *rates;
    return best;
}

// LAME takes 16-bit, 32-bit and float samples; keep what the decoder gives
// as far as possible.
AVSampleFormat closestSampleFormat(const AVSampleFormat *supported, AVSampleFormat decoded)
{
    AVSampleFormat wanted = AV_SAMPLE_FMT_FLTP;
    switch (av_get_packed_sample_fmt(decoded)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
        wanted = AV_SAMPLE_FMT_S16P;
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64:
        wanted = AV_SAMPLE_FMT_S32P;
        break;
    default:
        break;
    }
    for (const AVSampleFormat *format = supported; format && *format != AV_SAMPLE_FMT_NONE; ++format)
        if (*format == wanted)
            return wanted;
    return supported ? supported[0] : wanted;
}

void quietLame(const char *, va_list) {}

// How LAME itself would encode audio of a rate at a VBR level: LAME left to
// choose encodes the lowest levels at a lower rate than the input's (32,
// 24 or 22.05 kHz, where only the band of the lower rate is lost), with its
// quality scale mapped to that rate. libavcodec gives LAME a fixed rate
// instead, at which the lowest levels cut off far lower (7.2 kHz at V9) and
// take most of a bright sound away. So LAME is asked what it would do.
struct LameChoice
{
    int sampleRate = 0;
    float vbrQuality = 0.0F; // on LAME's scale for that rate, 0 best
    int lowpassHz = 0;       // -1: none
};

bool askLame(int inputRate, int channels, int vbrLevel, LameChoice &choice)
{
    lame_global_flags *flags = lame_init();
    if (!flags)
        return false;
    lame_set_errorf(flags, quietLame);
    lame_set_debugf(flags, quietLame);
    lame_set_msgf(flags, quietLame);
    lame_set_in_samplerate(flags, inputRate);
    lame_set_num_channels(flags, channels);
    lame_set_mode(flags, channels > 1 ? JOINT_STEREO : MONO);
    lame_set_VBR(flags, vbr_default);
    lame_set_VBR_quality(flags, static_cast<float>(vbrLevel));
    const bool answered = lame_init_params(flags) >= 0;
    choice.sampleRate = lame_get_out_samplerate(flags);
    choice.vbrQuality = lame_get_VBR_quality(flags);
    choice.lowpassHz = lame_get_lowpassfreq(flags);
    lame_close(flags);
    return answered && choice.sampleRate > 0 && choice.vbrQuality >= 0.0F && choice.vbrQuality < 10.0F;
}

} // namespace

Status Mp3Encoder::chooseFormat(const AVFrame &decoded, int quality, AudioFormat &format)
{
    const AVCodec *codec = lameEncoder();
    if (!codec)
        return Status::failure("the MP3 encoder (libmp3lame) is not available");
    format.sampleRate = nearestRate(codec->supported_samplerates, decoded.sample_rate);
    format.channels = decoded.ch_layout.nb_channels > 1 ? 2 : 1;
    format.sampleFormat = closestSampleFormat(codec->sample_fmts, static_cast<AVSampleFormat>(decoded.format));
    if (LameChoice choice; askLame(format.sampleRate, format.channels, lameVbrLevel(quality), choice))
        format.sampleRate = nearestRate(codec->supported_samplerates, choice.sampleRate);
    return Status::success();
}

Status Mp3Encoder::open(const AudioFormat &format, int quality)
{
    packet_.reset(av_packet_alloc());
    if (!packet_)
        return Status::failure("out of memory");
    const AVCodec *codec = lameEncoder();
    if (!codec)
        return Status::failure("the MP3 encoder (libmp3lame) is not available");
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_)
        return Status::failure("out of memory");
    AVCodecContext *encoder = encoder_.get();
    encoder->sample_fmt = format.sampleFormat;
    encoder->sample_rate = format.sampleRate;
    av_channel_layout_default(&encoder->ch_layout, format.channels);
    encoder->time_base = AVRational{1, format.sampleRate};
    encoder->flags |= AV_CODEC_FLAG_QSCALE; // VBR
    // LAME's own settings for audio of the chosen rate (for a rate LAME
    // chose itself, what it would use after resampling).
    encoder->global_quality = lameVbrLevel(quality) * FF_QP2LAMBDA;
    if (LameChoice choice; askLame(format.sampleRate, format.channels, lameVbrLevel(quality), choice)
                           && choice.sampleRate == format.sampleRate) {
        encoder->global_quality = static_cast<int>(std::lround(choice.vbrQuality * FF_QP2LAMBDA));
        encoder->cutoff = choice.lowpassHz;
    }
    const int error = avcodec_open2(encoder, codec, nullptr);
    if (error < 0)
        return avFailure("cannot open the MP3 encoder", error);
    return Status::success();
}

int Mp3Encoder::frameSize() const
{
    return encoder_->frame_size;
}

Status Mp3Encoder::encode(AVFrame &frame, PacketSink &sink)
{
    frame.pts = nextPts_;
    nextPts_ += frame.nb_samples;
    return send(&frame, sink);
}

// Sends a frame (or the end of the audio) and hands every packet the
// encoder has ready to sink. While draining, the newest packet is held back until
// the next one comes, so that the last one can be told apart.
Status Mp3Encoder::send(const AVFrame *frame, PacketSink &sink)
{
    int error = avcodec_send_frame(encoder_.get(), frame);
    if (error < 0)
        return avFailure("cannot encode", error);
    AVPacket *packet = packet_.get();
    for (;;) {
        error = avcodec_receive_packet(encoder_.get(), packet);
        if (error == AVERROR(EAGAIN))
            return Status::success();
        if (error == AVERROR_EOF)
            return held_ && held_->data ? writeLast(sink) : Status::success();
        if (error < 0)
            return avFailure("cannot encode", error);
        ++packets_;
        if (frame) {
            if (Status status = deliver(packet, sink); !status.ok())
                return status;
            continue;
        }
        if (!held_)
            held_.reset(av_packet_alloc());
        if (!held_)
            return Status::failure("out of memory");
        if (held_->data) {
            if (Status status = deliver(held_.get(), sink); !status.ok())
                return status;
        }
        av_packet_move_ref(held_.get(), packet);
    }
}

// The muxer takes the padding of the LAME header from the last packet's
// skip-samples data alone. LAME's flush may end with a packet that is all
// padding, whose data then hides the partial padding of the packet before
// it, and the header would state too many samples; so the last packet is
// given the padding of the whole stream.
Status Mp3Encoder::writeLast(PacketSink &sink)
{
    AVPacket *last = held_.get();
    const int64_t padding = packets_ * encoder_->frame_size - encoder_->initial_padding - nextPts_;
    if (padding >= 0) {
        size_t size = 0;
        uint8_t *skip = av_packet_get_side_data(last, AV_PKT_DATA_SKIP_SAMPLES, &size);
        if (!skip || size < 10) {
            skip = av_packet_new_side_data(last, AV_PKT_DATA_SKIP_SAMPLES, 10);
            if (!skip)
                return Status::failure("out of memory");
            std::fill(skip, skip + 10, 0);
        }
        AV_WL32(skip + 4, static_cast<uint32_t>(padding));
    }
    return deliver(last, sink);
}

Status Mp3Encoder::deliver(AVPacket *packet, PacketSink &sink)
{
    Status status = sink.write(*packet);
    av_packet_unref(packet);
    return status;
}

Status Mp3Encoder::finish(PacketSink &sink)
{
    return send(nullptr, sink);
}
