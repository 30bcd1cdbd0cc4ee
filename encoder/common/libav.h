#pragma once

// Owners for the libav objects the tool uses, so that every early return
// releases what was allocated so far.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace libav {

struct IoContextDeleter
{
    void operator()(AVIOContext *io) const { avio_closep(&io); }
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

// An opened input; its I/O context is owned separately (IoContextPtr),
// because the tool opens the file itself before the demuxer sees it.
struct InputFormatDeleter
{
    void operator()(AVFormatContext *format) const { avformat_close_input(&format); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;

// An output context closes its file (if still open) and frees itself.
struct OutputFormatDeleter
{
    void operator()(AVFormatContext *format) const
    {
        if (!(format->oformat->flags & AVFMT_NOFILE))
            avio_closep(&format->pb);
        avformat_free_context(format);
    }
};
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

struct CodecContextDeleter
{
    void operator()(AVCodecContext *codec) const { avcodec_free_context(&codec); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct SwrDeleter
{
    void operator()(SwrContext *swr) const { swr_free(&swr); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

struct AudioFifoDeleter
{
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// Options handed to an open call; whatever the call did not consume is freed.
class Options
{
public:
    Options() = default;
    Options(const Options &) = delete;
    Options &operator=(const Options &) = delete;
    ~Options() { av_dict_free(&dictionary_); }

    void set(const char *key, const char *value) { av_dict_set(&dictionary_, key, value, 0); }
    AVDictionary **get() { return &dictionary_; }

private:
    AVDictionary *dictionary_ = nullptr;
};

} // namespace libav
