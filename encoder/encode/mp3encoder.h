#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "encode/packetsink.h"
#include "encode/resampler.h"

#include <cstdint>

// LAME (libavcodec's libmp3lame encoder) in VBR mode. It hands its packets
// to a PacketSink (the muxer) as they come.
class Mp3Encoder
{
public:
    // The format LAME is fed for audio shaped like `decoded` at a quality
    // (0..99): the sample rate and low-pass LAME itself would pick for the
    // nearest rate it takes, mono or stereo, and a sample format close to
    // the decoded one.
    static Status chooseFormat(const AVFrame &decoded, int quality, AudioFormat &format);

    Status open(const AudioFormat &format, int quality);

    // The opened encoder, for the muxer's stream parameters and the time
    // base of the packets' timestamps.
    const AVCodecContext &context() const { return *encoder_; }

    int frameSize() const;

    // A frame of frameSize() samples (only the last may be shorter); the
    // packets it completes go to sink.
    Status encode(AVFrame &frame, PacketSink &sink);

    // Samples fed to the encoder so far.
    int64_t samplesEncoded() const { return nextPts_; }

    // Drains the encoder into sink. The last packet carries the padding of
    // the whole stream in its skip samples.
    Status finish(PacketSink &sink);

private:
    Status send(const AVFrame *frame, PacketSink &sink);
    Status writeLast(PacketSink &sink);
    static Status deliver(AVPacket *packet, PacketSink &sink);

    libav::CodecContextPtr encoder_;
    libav::PacketPtr packet_;
    libav::PacketPtr held_; // the newest packet while draining
    int64_t packets_ = 0;
    int64_t nextPts_ = 0;
};
