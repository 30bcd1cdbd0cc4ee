#include "front/flacprobe.h"

#include "front/wholeseconds.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>

namespace {

constexpr int maxMetadataBlocks = 1024;
constexpr int frameHeaderMaxBytes = 16;
constexpr std::size_t frameHeaderMinBytes = 6; // sync, codes, number, CRC-8

// What the first frame must agree with.
struct StreamInfo
{
    unsigned maxBlockSize = 0;
    unsigned maxFrameBytes = 0; // 0: not known
    unsigned sampleRate = 0;
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
};

uint8_t crc8(const unsigned char *bytes, int count)
{
    uint8_t crc = 0;
    for (int i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// STREAMINFO (the first metadata block) and the offset of the first frame.
bool readMetadata(int descriptor, StreamInfo &info, off_t &firstFrame)
{
    off_t position = 4; // after "fLaC"
    for (int block = 0; block < maxMetadataBlocks; ++block) {
        unsigned char header[4];
        if (pread(descriptor, header, sizeof header, position) != sizeof header)
            return false;
        const unsigned length = (header[1] << 16) | (header[2] << 8) | header[3];
        // libavformat refuses a second STREAMINFO and the invalid type 127.
        const unsigned type = header[0] & 0x7F;
        if ((block > 0 && type == 0) || type == 127)
            return false;
        if (block == 0) {
            unsigned char streamInfo[18];
            if ((header[0] & 0x7F) != 0 || length < sizeof streamInfo
                || pread(descriptor, streamInfo, sizeof streamInfo, position + 4) != sizeof streamInfo)
                return false;
            info.maxBlockSize = (streamInfo[2] << 8) | streamInfo[3];
            info.maxFrameBytes = (streamInfo[7] << 16) | (streamInfo[8] << 8) | streamInfo[9];
            info.sampleRate = (streamInfo[10] << 12) | (streamInfo[11] << 4) | (streamInfo[12] >> 4);
            info.channels = ((streamInfo[12] >> 1) & 0x07) + 1;
            info.bitsPerSample = (((streamInfo[12] & 0x01) << 4) | (streamInfo[13] >> 4)) + 1;
        }
        position += 4 + length;
        if (header[0] & 0x80) {
            firstFrame = position;
            return true;
        }
    }
    return false;
}

// What the first frame's header says of its subframes.
struct FrameHeader
{
    unsigned blockSize = 0;
    unsigned channelCode = 0; // 0-7 independent channels, 8-10 stereo decorrelated
    unsigned bits = 0;
    std::size_t bytes = 0;    // the header's, with its CRC-8
};

// The first frame's header (RFC 9639, 9.1): sync code, block size, rate,
// channels, sample size, coded number, optional fields, CRC-8.
bool firstFrameAgrees(int descriptor, const StreamInfo &info, off_t offset, FrameHeader &header)
{
    static constexpr unsigned rates[] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000,
                                         32000, 44100, 48000, 96000};
    static constexpr unsigned sampleSizes[] = {0, 8, 12, 0, 16, 20, 24, 32};
    unsigned char h[frameHeaderMaxBytes];
    if (pread(descriptor, h, sizeof h, offset) != static_cast<ssize_t>(sizeof h) || h[0] != 0xFF
        || (h[1] & 0xFE) != 0xF8 || (h[3] & 0x01) != 0)
        return false;
    const unsigned blockCode = h[2] >> 4;
    const unsigned rateCode = h[2] & 0x0F;
    const unsigned channelCode = h[3] >> 4;
    const unsigned sizeCode = (h[3] >> 1) & 0x07;
    int at = 4;
    int extraNumberBytes = 0; // the coded frame or sample number, UTF-8 style
    for (unsigned mask = 0x80; (h[at] & mask) && mask > 0x01; mask >>= 1)
        ++extraNumberBytes;
    if (extraNumberBytes == 1 || extraNumberBytes > 6)
        return false;
    at += extraNumberBytes == 0 ? 1 : extraNumberBytes;
    // Code 0 is reserved; 6 and 7 put the size, less one, after the coded
    // number (8 or 16 bits); the others name it.
    unsigned blockSize = 0;
    if (blockCode == 1)
        blockSize = 192;
    else if (blockCode >= 2 && blockCode <= 5)
        blockSize = 576u << (blockCode - 2);
    else if (blockCode >= 8)
        blockSize = 256u << (blockCode - 8);
    else if (blockCode == 6)
        blockSize = h[at++] + 1u;
    else if (blockCode == 7) {
        blockSize = ((h[at] << 8) | h[at + 1]) + 1u;
        at += 2;
    }
    unsigned rate = rateCode == 0 ? info.sampleRate : rateCode < 12 ? rates[rateCode] : 0;
    if (rateCode == 12)
        rate = h[at++] * 1000u;
    else if (rateCode == 13 || rateCode == 14) {
        rate = ((h[at] << 8) | h[at + 1]) * (rateCode == 14 ? 10u : 1u);
        at += 2;
    }
    const unsigned channels = channelCode < 8 ? channelCode + 1 : channelCode <= 10 ? 2 : 0;
    const unsigned bits = sizeCode == 0 ? info.bitsPerSample : sampleSizes[sizeCode];
    header = FrameHeader{blockSize, channelCode, bits, static_cast<std::size_t>(at + 1)};
    return blockCode != 0 && rateCode != 15 && crc8(h, at) == h[at] && blockSize <= info.maxBlockSize
        && rate == info.sampleRate && channels == info.channels && bits == info.bitsPerSample;
}

// CRC-16 of FLAC frames (polynomial 0x8005, most significant bit first).
uint16_t crc16Step(uint16_t crc, unsigned char byte)
{
    static const auto table = [] {
        std::array<uint16_t, 256> entries{};
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t value = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                value = static_cast<uint16_t>((value & 0x8000) ? (value << 1) ^ 0x8005 : value << 1);
            entries[i] = value;
        }
        return entries;
    }();
    return static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ byte) & 0xFF]);
}

// The first frame is whole and undamaged: its CRC-16 footer matches where
// the next frame's sync code starts, or at the end of the file, within the
// largest frame size STREAMINFO gives. A damaged frame the decoder would
// skip, or a file cut inside it, makes the converter answer instead.
bool firstFrameIntact(int descriptor, const StreamInfo &info, off_t firstFrame, std::vector<unsigned char> &frame)
{
    constexpr off_t largestFrame = off_t(1) << 21; // more than any block's samples take
    struct stat file = {};
    if (fstat(descriptor, &file) != 0 || file.st_size <= firstFrame)
        return false;
    const off_t limit = info.maxFrameBytes > 0 ? std::min<off_t>(info.maxFrameBytes, largestFrame) : largestFrame;
    const off_t held = file.st_size - firstFrame;
    const bool toEnd = held <= limit + 2;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(std::min(held, limit + 2)));
    if (pread(descriptor, bytes.data(), bytes.size(), firstFrame) != static_cast<ssize_t>(bytes.size()))
        return false;
    uint16_t crc = 0;
    for (std::size_t end = 0; end < bytes.size(); ++end) {
        crc = crc16Step(crc, bytes[end]);
        const std::size_t next = end + 1;
        if (crc != 0 || next < frameHeaderMinBytes || static_cast<off_t>(next) > limit)
            continue;
        const bool atEnd = next == bytes.size();
        const bool nextSync = next + 1 < bytes.size() && bytes[next] == 0xFF && (bytes[next + 1] & 0xFE) == 0xF8;
        if ((atEnd && toEnd) || nextSync) {
            bytes.resize(next);
            frame = std::move(bytes);
            return true;
        }
    }
    return false;
}

// Bits of a frame, most significant first; reading past its end fails.
class BitReader
{
public:
    BitReader(const std::vector<unsigned char> &bytes, std::size_t end) : bytes_(bytes), endBit_(end * 8) {}

    bool read(unsigned count, uint64_t &value)
    {
        if (count > endBit_ - std::min(bit_, endBit_))
            return false;
        value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit_)
            value = (value << 1) | ((bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
        return true;
    }
    bool skip(uint64_t count)
    {
        if (count > endBit_ - std::min(bit_, endBit_))
            return false;
        bit_ += count;
        return true;
    }
    // The zeros before the next one, which is read too.
    bool unary(uint64_t limit, uint64_t &zeros)
    {
        uint64_t bit = 1;
        for (zeros = 0; zeros <= limit; ++zeros) {
            if (!read(1, bit))
                return false;
            if (bit)
                return true;
        }
        return false;
    }
    std::size_t byteAligned() const { return (bit_ + 7) / 8; }
    void seek(std::size_t byte) { bit_ = byte * 8; }

private:
    const std::vector<unsigned char> &bytes_;
    const std::size_t endBit_;
    std::size_t bit_ = 0;
};

// A subframe's residual (RFC 9639, 9.2.7), as libavcodec's decoder takes it:
// Rice coding with 4- or 5-bit parameters (the other two methods are
// reserved), partitions that divide the block, and values that fit 32 bits.
bool residualDecodes(BitReader &bits, unsigned blockSize, unsigned order)
{
    uint64_t method = 0;
    uint64_t partitionOrder = 0;
    if (!bits.read(2, method) || method > 1 || !bits.read(4, partitionOrder))
        return false;
    const unsigned perPartition = blockSize >> partitionOrder;
    if ((perPartition << partitionOrder) != blockSize || order > perPartition)
        return false;
    const unsigned parameterBits = method == 0 ? 4 : 5;
    const uint64_t escape = (1u << parameterBits) - 1;
    for (unsigned partition = 0; partition < (1u << partitionOrder); ++partition) {
        const unsigned samples = partition == 0 ? perPartition - order : perPartition;
        uint64_t parameter = 0;
        if (!bits.read(parameterBits, parameter))
            return false;
        if (parameter == escape) {
            uint64_t width = 0;
            if (!bits.read(5, width) || !bits.skip(width * samples))
                return false;
            continue;
        }
        for (unsigned i = 0; i < samples; ++i) {
            uint64_t quotient = 0;
            if (!bits.unary((uint64_t(1) << (32 - parameter)) - 1, quotient) || !bits.skip(parameter))
                return false;
        }
    }
    return true;
}

// One subframe (RFC 9639, 9.2): constant, verbatim, fixed prediction of
// order 0-4 or linear prediction, with wasted bits; what libavcodec's decoder
// refuses (reserved types, a coefficient precision of 16, a negative shift,
// more than 32 bits a sample) fails here too.
bool subframeDecodes(BitReader &bits, unsigned blockSize, unsigned sampleBits)
{
    uint64_t padding = 0;
    uint64_t type = 0;
    uint64_t wastedFlag = 0;
    if (!bits.read(1, padding) || padding != 0 || !bits.read(6, type) || !bits.read(1, wastedFlag))
        return false;
    if (wastedFlag) {
        uint64_t zeros = 0;
        if (!bits.unary(sampleBits, zeros) || zeros + 1 >= sampleBits)
            return false;
        sampleBits -= static_cast<unsigned>(zeros + 1);
    }
    if (sampleBits > 32)
        return false;
    if (type == 0)
        return bits.skip(sampleBits);
    if (type == 1)
        return bits.skip(uint64_t(sampleBits) * blockSize);
    if (type >= 8 && type <= 12) {
        const unsigned order = static_cast<unsigned>(type - 8);
        return bits.skip(uint64_t(sampleBits) * order) && residualDecodes(bits, blockSize, order);
    }
    if (type < 32)
        return false;
    const unsigned order = static_cast<unsigned>(type - 31);
    uint64_t precision = 0;
    uint64_t shift = 0;
    if (!bits.skip(uint64_t(sampleBits) * order) || !bits.read(4, precision) || precision == 15
        || !bits.read(5, shift) || (shift & 0x10) != 0 || !bits.skip((precision + 1) * order))
        return false;
    return residualDecodes(bits, blockSize, order);
}

// The first frame's subframes are all of a kind the decoder takes, and they
// fill the frame up to its CRC-16 (with the padding to a whole byte).
bool subframesDecode(const std::vector<unsigned char> &frame, const FrameHeader &header)
{
    if (frame.size() < header.bytes + 2)
        return false;
    BitReader bits(frame, frame.size() - 2);
    bits.seek(header.bytes);
    const unsigned channels = header.channelCode < 8 ? header.channelCode + 1 : 2;
    for (unsigned channel = 0; channel < channels; ++channel) {
        // The side channel of a decorrelated pair has a bit more.
        const bool side = (header.channelCode == 8 && channel == 1) || (header.channelCode == 9 && channel == 0)
                          || (header.channelCode == 10 && channel == 1);
        if (!subframeDecodes(bits, header.blockSize, header.bits + (side ? 1 : 0)))
            return false;
    }
    return bits.byteAligned() == frame.size() - 2;
}

} // namespace

bool flacSeconds(TagLib::IOStream *stream, int descriptor, long &seconds)
{
    TagLib::FLAC::File file(stream, TagLib::ID3v2::FrameFactory::instance(), true, TagLib::AudioProperties::Average);
    const TagLib::FLAC::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    StreamInfo info;
    off_t firstFrame = 0;
    FrameHeader header;
    std::vector<unsigned char> frame;
    if (!properties || properties->sampleFrames() == 0 || properties->sampleRate() <= 0
        || !readMetadata(descriptor, info, firstFrame)
        || info.sampleRate != static_cast<unsigned>(properties->sampleRate())
        || !firstFrameAgrees(descriptor, info, firstFrame, header)
        || !firstFrameIntact(descriptor, info, firstFrame, frame) || !subframesDecode(frame, header))
        return false;
    seconds = wholeSeconds(static_cast<long long>(properties->sampleFrames()), properties->sampleRate());
    return true;
}
