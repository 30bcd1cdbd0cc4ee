#include "encode/parallel/mp3frames.h"

#include <algorithm>

namespace mp3frames {

namespace {

constexpr int kMpeg1Bitrates[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Bitrates[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kMpeg1Rates[3] = {44100, 48000, 32000};
constexpr int kLargestBitrateIndex = 14;

unsigned readBits(const uint8_t *data, int bitOffset, int count)
{
    unsigned value = 0;
    for (int i = 0; i < count; ++i) {
        const int bit = bitOffset + i;
        value = (value << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return value;
}

void writeMainDataBegin(uint8_t *sideInfo, bool mpeg1, int begin)
{
    if (mpeg1) {
        sideInfo[0] = static_cast<uint8_t>(begin >> 1);
        sideInfo[1] = static_cast<uint8_t>((sideInfo[1] & 0x7F) | ((begin & 1) << 7));
    } else {
        sideInfo[0] = static_cast<uint8_t>(begin);
    }
}

void writeBitrate(uint8_t *header, int bitrateIndex, bool padded)
{
    header[2] = static_cast<uint8_t>((bitrateIndex << 4) | (header[2] & 0x0D) | (padded ? 0x02 : 0));
}

} // namespace

int frameSizeAt(bool mpeg1, int sampleRate, int bitrateIndex)
{
    const int kbps = (mpeg1 ? kMpeg1Bitrates : kMpeg2Bitrates)[bitrateIndex];
    return (mpeg1 ? 144000 : 72000) * kbps / sampleRate;
}

Status parseHeader(const uint8_t *data, std::size_t size, Layout &layout)
{
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return Status::failure("the encoder wrote a packet that is no MP3 frame");
    const int version = (data[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (data[1] >> 1) & 3;   // 1: Layer III
    const int bitrateIndex = data[2] >> 4;
    const int rateIndex = (data[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex > kLargestBitrateIndex || rateIndex == 3)
        return Status::failure("the encoder wrote a frame of a kind that cannot be joined");
    if (!(data[1] & 1))
        return Status::failure("the encoder wrote frames with a CRC, which cannot be joined");
    layout.mpeg1 = version == 3;
    layout.bitrateIndex = bitrateIndex;
    layout.padded = (data[2] >> 1) & 1;
    layout.sampleRate = kMpeg1Rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    layout.channels = (data[3] >> 6) == 3 ? 1 : 2;
    layout.headerSize = 4;
    layout.sideInfoSize = layout.mpeg1 ? (layout.channels == 1 ? 17 : 32) : (layout.channels == 1 ? 9 : 17);
    layout.frameSize = frameSizeAt(layout.mpeg1, layout.sampleRate, bitrateIndex) + (layout.padded ? 1 : 0);
    return Status::success();
}

int mainDataBegin(const uint8_t *frame, const Layout &layout)
{
    return static_cast<int>(readBits(frame + layout.headerSize, 0, layout.mpeg1 ? 9 : 8));
}

int mainDataSize(const uint8_t *frame, const Layout &layout)
{
    // Each granule's entry in the side information has a fixed length; its
    // first 12 bits are part2_3_length, the bits of its main data.
    const uint8_t *sideInfo = frame + layout.headerSize;
    const bool mono = layout.channels == 1;
    int offset = layout.mpeg1 ? 9 + (mono ? 5 : 3) + 4 * layout.channels : 8 + (mono ? 1 : 2);
    const int entries = (layout.mpeg1 ? 2 : 1) * layout.channels;
    const int entryBits = layout.mpeg1 ? 59 : 63;
    int bits = 0;
    for (int i = 0; i < entries; ++i, offset += entryBits)
        bits += static_cast<int>(readBits(sideInfo, offset, 12));
    return (bits + 7) / 8;
}

Status MainDataReader::read(const uint8_t *frame, std::size_t size, std::vector<uint8_t> &mainData)
{
    Layout layout;
    if (Status status = parseHeader(frame, size, layout); !status.ok())
        return status;
    if (size != static_cast<std::size_t>(layout.frameSize))
        return Status::failure("the encoder wrote a frame of the wrong size");
    const int begin = mainDataBegin(frame, layout);
    const int length = mainDataSize(frame, layout);
    const uint8_t *payload = frame + layout.headerSize + layout.sideInfoSize;
    if (begin > static_cast<int>(reservoir_.size()) || length - begin > layout.payloadSize())
        return Status::failure("the encoder wrote a frame whose main data lies outside the stream");
    const std::size_t start = reservoir_.size() - static_cast<std::size_t>(begin);
    const std::size_t fromReservoir = static_cast<std::size_t>(std::min(begin, length));
    mainData.assign(reservoir_.begin() + static_cast<std::ptrdiff_t>(start),
                    reservoir_.begin() + static_cast<std::ptrdiff_t>(start + fromReservoir));
    if (length > begin)
        mainData.insert(mainData.end(), payload, payload + (length - begin));
    reservoir_.insert(reservoir_.end(), payload, payload + layout.payloadSize());
    constexpr std::size_t kept = 511;
    if (reservoir_.size() > kept)
        reservoir_.erase(reservoir_.begin(), reservoir_.end() - static_cast<std::ptrdiff_t>(kept));
    return Status::success();
}

Status Joiner::addRun(const std::vector<const Frame *> &frames, std::size_t firstTag, bool continued, Next next)
{
    if (started_ && !continued)
        asEncoded_ = false;
    started_ = true;
    // The free payload each frame must leave behind it so that every frame
    // after it fits even at the largest bitrate, counted back from the end
    // of the run; before a join, a run leaves as much as any frame's main
    // data may reach back, whatever the next run's first frame needs.
    std::vector<Layout> layouts(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame &frame = *frames[i];
        if (Status status = parseHeader(frame.encoded.data(), frame.encoded.size(), layouts[i]); !status.ok())
            return status;
        if (frame.headerAndSideInfoSize != static_cast<std::size_t>(layouts[i].headerSize + layouts[i].sideInfoSize) ||
            frame.encoded.size() != static_cast<std::size_t>(layouts[i].frameSize))
            return Status::failure("a frame to join is not whole");
    }
    std::vector<int> leave(frames.size() + 1, 0);
    if (!frames.empty() && next == Next::OtherEncoder)
        leave.back() = layouts.back().maxMainDataBegin();
    for (std::size_t i = frames.size(); i-- > 0;) {
        const Layout &layout = layouts[i];
        const int largestPayload = frameSizeAt(layout.mpeg1, layout.sampleRate, kLargestBitrateIndex) -
                                   layout.headerSize - layout.sideInfoSize;
        const int needed = leave[i + 1] + static_cast<int>(frames[i]->mainData.size()) - largestPayload;
        leave[i] = std::clamp(needed, 0, layout.maxMainDataBegin());
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (asEncoded_ && addAsEncoded(*frames[i], layouts[i], firstTag + i, leave[i + 1]))
            continue;
        asEncoded_ = false;
        if (Status status = add(*frames[i], layouts[i], firstTag + i, leave[i + 1]); !status.ok())
            return status;
    }
    return Status::success();
}

// The frame as encoded, if the stream so far is its encoder's and the frame
// leaves the room asked for.
bool Joiner::addAsEncoded(const Frame &frame, const Layout &layout, std::size_t tag, int leave)
{
    const int begin = mainDataBegin(frame.encoded.data(), layout);
    const int64_t start = capacity_ - begin;
    const int64_t end = start + static_cast<int64_t>(frame.mainData.size());
    if (start < filled_ || capacity_ + layout.payloadSize() - end < leave)
        return false;
    Pending next;
    next.layout = layout;
    next.output.tag = tag;
    next.output.bytes = frame.encoded;
    next.payloadStart = capacity_;
    capacity_ += layout.payloadSize();
    pending_.push_back(std::move(next));
    filled_ = end;
    return true;
}

Status Joiner::add(const Frame &frame, const Layout &layout, std::size_t tag, int leave)
{
    const int length = static_cast<int>(frame.mainData.size());
    const int maxBegin = layout.maxMainDataBegin();
    const int fixedSize = layout.headerSize + layout.sideInfoSize;
    auto payloadAt = [&](int index, bool padded) {
        return frameSizeAt(layout.mpeg1, layout.sampleRate, index) + (padded ? 1 : 0) - fixedSize;
    };

    int begin = 0;
    int index = layout.bitrateIndex;
    bool padded = layout.padded;
    for (;;) {
        // Free payload further back than main_data_begin reaches stays
        // unused.
        if (capacity_ - filled_ > maxBegin)
            filled_ = capacity_ - maxBegin;
        begin = static_cast<int>(capacity_ - filled_);
        // The frame's own bitrate, or the next larger one that leaves
        // enough behind it; failing that, one that holds the frame.
        auto smallestLeaving = [&](int wanted, int &found, bool &foundPadded) {
            bool p = layout.padded;
            for (int i = layout.bitrateIndex; i <= kLargestBitrateIndex; ++i, p = false) {
                if (begin + payloadAt(i, p) - length >= wanted) {
                    found = i;
                    foundPadded = p;
                    return true;
                }
            }
            return false;
        };
        if (smallestLeaving(leave, index, padded) || smallestLeaving(0, index, padded))
            break;
        // Even the largest frame cannot hold it: the frame before grows
        // and leaves the room free.
        if (pending_.empty() || pending_.back().layout.bitrateIndex == kLargestBitrateIndex || begin >= maxBegin)
            return Status::failure("a frame's main data does not fit where the parts are joined");
        resize(pending_.back(), pending_.back().layout.bitrateIndex + 1);
    }
    if (index != layout.bitrateIndex)
        ++grownFrames_;

    Pending next;
    next.layout = layout;
    next.layout.bitrateIndex = index;
    next.layout.padded = padded;
    next.layout.frameSize = fixedSize + payloadAt(index, padded);
    next.output.tag = tag;
    next.output.bytes.assign(frame.encoded.begin(), frame.encoded.begin() + fixedSize);
    next.output.bytes.resize(static_cast<std::size_t>(next.layout.frameSize), 0);
    writeBitrate(next.output.bytes.data(), index, padded);
    writeMainDataBegin(next.output.bytes.data() + layout.headerSize, layout.mpeg1, begin);
    next.payloadStart = capacity_;
    capacity_ += next.layout.payloadSize();
    pending_.push_back(std::move(next));
    place(frame.mainData, filled_);
    filled_ += length;
    return Status::success();
}

void Joiner::resize(Pending &pending, int bitrateIndex)
{
    const Layout &layout = pending.layout;
    const int size = frameSizeAt(layout.mpeg1, layout.sampleRate, bitrateIndex);
    capacity_ += size - layout.frameSize;
    pending.layout.bitrateIndex = bitrateIndex;
    pending.layout.padded = false;
    pending.layout.frameSize = size;
    pending.output.bytes.resize(static_cast<std::size_t>(size), 0);
    writeBitrate(pending.output.bytes.data(), bitrateIndex, false);
    ++grownFrames_;
}

void Joiner::place(const std::vector<uint8_t> &data, int64_t position)
{
    const int64_t end = position + static_cast<int64_t>(data.size());
    for (Pending &pending : pending_) {
        const int fixedSize = pending.layout.headerSize + pending.layout.sideInfoSize;
        const int64_t from = std::max(position, pending.payloadStart);
        const int64_t to = std::min(end, pending.payloadStart + pending.layout.payloadSize());
        for (int64_t at = from; at < to; ++at)
            pending.output.bytes[static_cast<std::size_t>(fixedSize + (at - pending.payloadStart))] =
                data[static_cast<std::size_t>(at - position)];
    }
}

void Joiner::take(std::vector<Output> &out, bool all)
{
    // Main data still to come starts no earlier than this.
    const int64_t firstFree = std::max(filled_, capacity_ - 511);
    while (!pending_.empty()) {
        const Pending &front = pending_.front();
        const bool complete = front.payloadStart + front.layout.payloadSize() <= firstFree;
        if (!all && (pending_.size() == 1 || !complete))
            break;
        out.push_back(std::move(pending_.front().output));
        pending_.pop_front();
    }
}

} // namespace mp3frames
