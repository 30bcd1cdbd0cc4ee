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

// The first frame's header (RFC 9639, 9.1): sync code, block size, rate,
// channels, sample size, coded number, optional fields, CRC-8.
bool firstFrameAgrees(int descriptor, const StreamInfo &info, off_t offset)
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
bool firstFrameIntact(int descriptor, const StreamInfo &info, off_t firstFrame)
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
        if ((atEnd && toEnd) || nextSync)
            return true;
    }
    return false;
}

} // namespace

bool flacSeconds(TagLib::IOStream *stream, int descriptor, long &seconds)
{
    TagLib::FLAC::File file(stream, TagLib::ID3v2::FrameFactory::instance(), true, TagLib::AudioProperties::Average);
    const TagLib::FLAC::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    StreamInfo info;
    off_t firstFrame = 0;
    if (!properties || properties->sampleFrames() == 0 || properties->sampleRate() <= 0
        || !readMetadata(descriptor, info, firstFrame)
        || info.sampleRate != static_cast<unsigned>(properties->sampleRate())
        || !firstFrameAgrees(descriptor, info, firstFrame) || !firstFrameIntact(descriptor, info, firstFrame))
        return false;
    seconds = wholeSeconds(static_cast<long long>(properties->sampleFrames()), properties->sampleRate());
    return true;
}
