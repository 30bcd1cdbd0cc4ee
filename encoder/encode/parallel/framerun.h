#pragma once

#include "common/status.h"
#include "encode/resampler.h"

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace parallel {

// Frames of audio kept one after another, one buffer per plane. A chunk's
// audio is then a few large buffers instead of an AVFrame per frame, whose
// buffers the reading thread would allocate and the encoding threads free
// by the thousand.
class FrameRun
{
public:
    FrameRun() = default;
    // Room for `reserved` frames of frameSize samples in format.
    FrameRun(const AudioFormat &format, int frameSize, int64_t reserved);

    int64_t frames() const { return static_cast<int64_t>(samples_.size()); }

    // Copies a frame of the run's format of at most frameSize samples.
    Status append(const AVFrame &frame);

    // Frames [from, frames()) appended to `to`, which has the same format.
    void copyTail(int64_t from, FrameRun &to) const;

    // Drops the frames from `count` on.
    void truncate(int64_t count);

    // Copies frame i into frame, a frame of the run's format with room for
    // frameSize samples, which is made writable first.
    Status get(int64_t i, AVFrame &frame) const;

    // Frees the audio.
    void clear();

private:
    std::size_t slotBytes() const { return static_cast<std::size_t>(frameSize_) * sampleBytes_; }

    int frameSize_ = 0;
    std::size_t sampleBytes_ = 0; // per plane
    std::vector<std::vector<uint8_t>> planes_; // frameSize_ samples per frame
    std::vector<int> samples_;                 // each frame's own
};

} // namespace parallel
