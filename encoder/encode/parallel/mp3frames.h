#pragma once

#include "common/status.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// MPEG audio Layer III frames at the level the joining of separately encoded
// parts needs: the header, the side information's main_data_begin and the
// length of each granule's main data. A frame's main data (scale factors and
// Huffman codes) need not lie in the frame itself: main_data_begin says how
// many bytes before the frame's own payload it starts, in the payload of the
// frames before (the bit reservoir).
namespace mp3frames {

struct Layout
{
    bool mpeg1 = true;
    int bitrateIndex = 0;
    bool padded = false;
    int sampleRate = 0;
    int channels = 2;
    int headerSize = 4;    // with the CRC, if any
    int sideInfoSize = 0;
    int frameSize = 0;     // bytes, header included
    int payloadSize() const { return frameSize - headerSize - sideInfoSize; }
    int maxMainDataBegin() const { return mpeg1 ? 511 : 255; }
};

// The layout of the Layer III frame whose header (at least 4 bytes) starts
// at data, or a failure. Frames with a CRC are refused: joining changes the
// bytes it covers.
Status parseHeader(const uint8_t *data, std::size_t size, Layout &layout);

// The bytes of a frame of the given kind (MPEG-1 or not, rate) at
// bitrateIndex, unpadded.
int frameSizeAt(bool mpeg1, int sampleRate, int bitrateIndex);

int mainDataBegin(const uint8_t *frame, const Layout &layout);
// The bytes of the frame's main data (its granules' bits, rounded up).
int mainDataSize(const uint8_t *frame, const Layout &layout);

// Follows the frames of one encoder in order and gives each frame's main
// data, gathered from its own payload and the ones before.
class MainDataReader
{
public:
    Status read(const uint8_t *frame, std::size_t size, std::vector<uint8_t> &mainData);

private:
    std::vector<uint8_t> reservoir_; // the last payload bytes, at most 511 kept
};

// One frame as the joiner takes it: the frame as encoded, its header and
// side information bytes, and its main data.
struct Frame
{
    std::vector<uint8_t> encoded;
    std::size_t headerAndSideInfoSize = 0;
    std::vector<uint8_t> mainData;
};

// Lays runs of frames from several encoders out as one valid stream: each
// frame's main data starts as far back in the free payload before it as
// main_data_begin reaches, and a frame keeps its bitrate unless its main
// data no longer fits, when it takes the next larger one that fits (or, at
// the largest, the frame before grows to make room). Packed that way, a run
// never has less free payload than its own encoder had, so only its first
// frames can need more room than it had; the last frames of each run leave
// as much room free as any frame may reach back, so the next run's first
// frames find what their encoder gave them. Frames come out in order once
// nothing after them can write into them.
//
// As long as every run continues the encoder of the one before (the stream
// has no join yet), frames pass as encoded, byte for byte, unless the end
// of a run before a join needs room.
class Joiner
{
public:
    struct Output
    {
        std::vector<uint8_t> bytes;
        std::size_t tag = 0; // given back as given to add()
    };

    enum class Next { Nothing, SameEncoder, OtherEncoder };

    // The frames of one encoder, in order, tagged firstTag, firstTag + 1...;
    // continued: the encoder of the run before made them too; next: what
    // follows the run.
    Status addRun(const std::vector<const Frame *> &frames, std::size_t firstTag, bool continued, Next next);
    // Frames complete so far, oldest first; with all, every frame (after
    // the last run).
    void take(std::vector<Output> &out, bool all);

    // Frames given a larger bitrate than their encoder gave them.
    int64_t grownFrames() const { return grownFrames_; }

private:
    struct Pending
    {
        Output output;
        Layout layout;
        int64_t payloadStart = 0; // in the stream of all payload bytes
    };

    // leave: the free payload the frame should leave behind it.
    Status add(const Frame &frame, const Layout &layout, std::size_t tag, int leave);
    bool addAsEncoded(const Frame &frame, const Layout &layout, std::size_t tag, int leave);
    void resize(Pending &pending, int bitrateIndex);
    void place(const std::vector<uint8_t> &data, int64_t position);

    std::deque<Pending> pending_;
    int64_t capacity_ = 0; // payload bytes of all frames so far
    int64_t filled_ = 0;   // end of the main data placed so far
    int64_t grownFrames_ = 0;
    bool asEncoded_ = true; // every frame so far as its encoder laid it out
    bool started_ = false;
};

} // namespace mp3frames
