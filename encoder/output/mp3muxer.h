#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "encode/packetsink.h"

#include <cstdint>
#include <string>
#include <vector>

// The mp3 muxer: the ID3v2 tag first, then a Xing/LAME header with the frame
// count, seek table and the encoder delay and padding, so players know the
// exact length, then the encoder's packets as they come.
class Mp3Muxer : public PacketSink
{
public:
    // Writes the ID3v2 tag (may be empty) and the muxer's header into the
    // file at path, for packets from the encoder (opened) described by
    // `encoder`, with timestamps in its time base.
    Status open(const std::string &path, const AVCodecContext &encoder, const std::vector<uint8_t> &id3Tag);

    // The next packet, in order.
    Status write(AVPacket &packet) override;

    // After the last packet: completes the Xing header, overwrites the ID3v2
    // tag written by open() with finalTag, which must be of the same size
    // so that no audio byte moves, and closes the file.
    Status finish(const std::vector<uint8_t> &finalTag);

private:
    libav::OutputFormatPtr muxer_;
    AVRational packetTimeBase_ = {0, 1};
    std::size_t tagSize_ = 0;
};
