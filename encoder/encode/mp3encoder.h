#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "encode/resampler.h"

#include <cstdint>
#include <string>
#include <vector>

// LAME (libavcodec's libmp3lame encoder) in VBR mode and the mp3 muxer,
// which writes a Xing/LAME header with the frame count, seek table and the
// encoder delay and padding, so players know the exact length.
class Mp3Writer
{
public:
    // The format LAME is fed for audio shaped like `decoded`: the nearest
    // sample rate LAME takes, mono or stereo, and a sample format close to
    // the decoded one.
    static Status chooseFormat(const AVFrame &decoded, AudioFormat &format);

    // Opens the encoder and writes the ID3v2 tag (may be empty) and the
    // muxer's header into the file at path.
    Status open(const std::string &path, const AudioFormat &format, int quality, const std::vector<uint8_t> &id3Tag);

    int frameSize() const;

    // A frame of frameSize() samples (only the last may be shorter).
    Status encode(AVFrame &frame);

    // Samples fed to the encoder so far.
    int64_t samplesEncoded() const { return nextPts_; }

    // Drains the encoder, completes the Xing header, overwrites the ID3v2
    // tag written by open() with finalTag, which must be of the same size
    // so that no audio byte moves, and closes the file.
    Status finish(const std::vector<uint8_t> &finalTag);

private:
    Status openEncoder(const AudioFormat &format, int quality);
    Status openMuxer(const std::string &path, const std::vector<uint8_t> &id3Tag);
    Status send(const AVFrame *frame);
    Status writeLast();
    Status write(AVPacket *packet);

    libav::CodecContextPtr encoder_;
    libav::OutputFormatPtr muxer_;
    libav::PacketPtr packet_;
    libav::PacketPtr held_; // the newest packet while draining
    int64_t packets_ = 0;
    int64_t nextPts_ = 0;
    std::size_t tagSize_ = 0;
};
