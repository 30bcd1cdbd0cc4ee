#pragma once

#include "common/status.h"

struct AVPacket;

// Where an encoder hands its packets, in order: each with its pts and
// duration in the encoder's time base and its side data (the skip samples
// that carry the encoder delay and padding). The sink may keep the packet's
// data by moving its reference out; what it leaves is released after the
// call.
class PacketSink
{
public:
    virtual ~PacketSink() = default;
    virtual Status write(AVPacket &packet) = 0;
};
