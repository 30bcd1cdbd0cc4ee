#include "encode/mp3encoder.h"

#include "common/arguments.h"
#include "common/averror.h"
#include "common/interruption.h"

#include <algorithm>
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

} // namespace

Status Mp3Writer::chooseFormat(const AVFrame &decoded, AudioFormat &format)
{
    const AVCodec *codec = lameEncoder();
    if (!codec)
        return Status::failure("the MP3 encoder (libmp3lame) is not available");
    format.sampleRate = nearestRate(codec->supported_samplerates, decoded.sample_rate);
    format.channels = decoded.ch_layout.nb_channels > 1 ? 2 : 1;
    format.sampleFormat = closestSampleFormat(codec->sample_fmts, static_cast<AVSampleFormat>(decoded.format));
    return Status::success();
}

Status Mp3Writer::open(const std::string &path, const AudioFormat &format, int quality,
                       const std::vector<uint8_t> &id3Tag)
{
    packet_.reset(av_packet_alloc());
    if (!packet_)
        return Status::failure("out of memory");
    if (Status status = openEncoder(format, quality); !status.ok())
        return status;
    return openMuxer(path, id3Tag);
}

Status Mp3Writer::openEncoder(const AudioFormat &format, int quality)
{
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
    encoder->global_quality = lameVbrLevel(quality) * FF_QP2LAMBDA;
    const int error = avcodec_open2(encoder, codec, nullptr);
    if (error < 0)
        return avFailure("cannot open the MP3 encoder", error);
    return Status::success();
}

Status Mp3Writer::openMuxer(const std::string &path, const std::vector<uint8_t> &id3Tag)
{
    AVFormatContext *muxer = nullptr;
    int error = avformat_alloc_output_context2(&muxer, nullptr, "mp3", nullptr);
    if (error < 0)
        return avFailure("cannot set up the MP3 writer", error);
    muxer_.reset(muxer);

    AVStream *stream = avformat_new_stream(muxer, nullptr);
    if (!stream)
        return Status::failure("out of memory");
    error = avcodec_parameters_from_context(stream->codecpar, encoder_.get());
    if (error < 0)
        return avFailure("cannot set up the MP3 writer", error);
    stream->time_base = encoder_->time_base;
    // Named in the LAME tag of the Xing frame; players look for "LAME" there
    // before they trust its encoder delay and padding.
    av_dict_set(&stream->metadata, "encoder", get_lame_very_short_version(), 0);

    const AVIOInterruptCB interrupt = interruption::ioCallback();
    libav::Options ioOptions;
    ioOptions.set("protocol_whitelist", "file");
    error = avio_open2(&muxer->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE, &interrupt, ioOptions.get());
    if (error < 0)
        return avFailure("cannot write \"" + path + "\"", error);

    // The tag comes first; the muxer's own ID3v2 writer is off, as it would
    // store the comment as a user text frame that players do not show.
    if (!id3Tag.empty())
        avio_write(muxer->pb, id3Tag.data(), static_cast<int>(id3Tag.size()));
    tagSize_ = id3Tag.size();
    libav::Options muxerOptions;
    muxerOptions.set("id3v2_version", "0");
    muxerOptions.set("write_xing", "1");
    error = avformat_write_header(muxer, muxerOptions.get());
    if (error < 0)
        return avFailure("cannot write the MP3 header", error);
    return Status::success();
}

int Mp3Writer::frameSize() const
{
    return encoder_->frame_size;
}

Status Mp3Writer::encode(AVFrame &frame)
{
    frame.pts = nextPts_;
    nextPts_ += frame.nb_samples;
    return send(&frame);
}

// Sends a frame (or the end of the audio) and writes every packet the
// encoder has ready. While draining, the newest packet is held back until
// the next one comes, so that the last one can be told apart.
Status Mp3Writer::send(const AVFrame *frame)
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
            return held_ && held_->data ? writeLast() : Status::success();
        if (error < 0)
            return avFailure("cannot encode", error);
        ++packets_;
        if (frame) {
            if (Status status = write(packet); !status.ok())
                return status;
            continue;
        }
        if (!held_)
            held_.reset(av_packet_alloc());
        if (!held_)
            return Status::failure("out of memory");
        if (held_->data) {
            if (Status status = write(held_.get()); !status.ok())
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
Status Mp3Writer::writeLast()
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
    return write(last);
}

Status Mp3Writer::write(AVPacket *packet)
{
    AVFormatContext *muxer = muxer_.get();
    av_packet_rescale_ts(packet, encoder_->time_base, muxer->streams[0]->time_base);
    packet->stream_index = 0;
    const int error = av_write_frame(muxer, packet);
    av_packet_unref(packet);
    return error < 0 ? avFailure("cannot write the output", error) : Status::success();
}

Status Mp3Writer::finish(const std::vector<uint8_t> &finalTag)
{
    if (finalTag.size() != tagSize_)
        return Status::failure("the final ID3v2 tag does not fit the room reserved for it");
    if (Status status = send(nullptr); !status.ok())
        return status;
    AVFormatContext *muxer = muxer_.get();
    int error = av_write_trailer(muxer);
    if (error < 0)
        return avFailure("cannot write the output", error);
    if (!finalTag.empty()) {
        const int64_t position = avio_seek(muxer->pb, 0, SEEK_SET);
        if (position < 0)
            return avFailure("cannot write the output's tag", static_cast<int>(position));
        avio_write(muxer->pb, finalTag.data(), static_cast<int>(finalTag.size()));
        avio_flush(muxer->pb);
        if (muxer->pb->error < 0)
            return avFailure("cannot write the output's tag", muxer->pb->error);
    }
    error = avio_closep(&muxer->pb);
    if (error < 0)
        return avFailure("cannot write the output", error);
    return Status::success();
}
