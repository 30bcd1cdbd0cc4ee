#include "output/mp3check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/crc.h>
}

namespace {

constexpr std::size_t maxFrameBytes = 2881; // MPEG 2.5 layer III, 160 kbit/s at 8 kHz, padded

struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t bigEndian(const uint8_t *bytes, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// What a layer III frame header says.
struct FrameHeader
{
    int version = 0;        // 1, 2 or 25 (for 2.5)
    int sampleRate = 0;
    int samplesPerFrame = 0;
    bool mono = false;
    bool crcProtected = false;
    std::size_t bytes = 0; // the whole frame

    std::size_t sideInfoBytes() const { return version == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17); }
};

bool parseHeader(const uint8_t *h, FrameHeader &frame)
{
    static constexpr int bitrates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
    static constexpr int rates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) // sync, layer III
        return false;
    const int versionBits = (h[1] >> 3) & 3;
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    frame.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    frame.sampleRate = rates[rateIndex] / (frame.version == 1 ? 1 : frame.version == 2 ? 2 : 4);
    frame.samplesPerFrame = frame.version == 1 ? 1152 : 576;
    frame.mono = (h[3] >> 6) == 3;
    frame.crcProtected = (h[1] & 1) == 0;
    const int kbps = bitrates[frame.version == 1 ? 0 : 1][bitrateIndex];
    const int padding = (h[2] >> 1) & 1;
    frame.bytes = static_cast<std::size_t>(frame.samplesPerFrame / 8 * kbps * 1000 / frame.sampleRate + padding);
    return true;
}

// The Xing/LAME frame's fields that the check compares.
struct LameHeader
{
    uint32_t frames = 0;
    uint32_t delay = 0;
    uint32_t padding = 0;
    uint32_t musicBytes = 0;
    uint16_t musicCrc = 0;
};

Status damaged(const std::string &what)
{
    return Status::failure("the written MP3 is damaged: " + what);
}

Status parseLameHeader(const std::vector<uint8_t> &frame, const FrameHeader &header, LameHeader &lame)
{
    std::size_t at = 4 + (header.crcProtected ? 2 : 0) + header.sideInfoBytes();
    if (at + 12 > frame.size() // the name, the flags and the frame count
        || (std::memcmp(&frame[at], "Xing", 4) != 0 && std::memcmp(&frame[at], "Info", 4) != 0))
        return damaged("no Xing header");
    const uint32_t flags = bigEndian(&frame[at + 4], 4);
    if (!(flags & 1))
        return damaged("the Xing header counts no frames");
    lame.frames = bigEndian(&frame[at + 8], 4);
    at += 8 + 4 + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    if (at + 36 > frame.size())
        return damaged("no LAME header");
    const uint32_t delayAndPadding = bigEndian(&frame[at + 21], 3);
    lame.delay = delayAndPadding >> 12;
    lame.padding = delayAndPadding & 0xFFF;
    lame.musicBytes = bigEndian(&frame[at + 28], 4);
    lame.musicCrc = static_cast<uint16_t>(bigEndian(&frame[at + 32], 2));
    return Status::success();
}

// Reads exactly `bytes` bytes; false when the file ends first or cannot be read.
bool readExactly(std::FILE *file, uint8_t *buffer, std::size_t bytes)
{
    return std::fread(buffer, 1, bytes, file) == bytes;
}

} // namespace

Status checkWrittenMp3(const std::string &path, int64_t samplesEncoded)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return systemFailure("cannot read back the written MP3", errno);

    uint8_t id3[10];
    if (!readExactly(file.get(), id3, sizeof id3))
        return damaged("it is too short");
    long audioStart = 0;
    if (std::memcmp(id3, "ID3", 3) == 0)
        audioStart = 10 + static_cast<long>((id3[6] << 21) | (id3[7] << 14) | (id3[8] << 7) | id3[9]);
    if (std::fseek(file.get(), audioStart, SEEK_SET) != 0)
        return systemFailure("cannot read back the written MP3", errno);

    // The Xing/LAME frame comes first; every frame after it is audio of the
    // same MPEG version and sample rate.
    std::vector<uint8_t> frame(maxFrameBytes);
    FrameHeader first;
    if (!readExactly(file.get(), frame.data(), 4) || !parseHeader(frame.data(), first)
        || !readExactly(file.get(), frame.data() + 4, first.bytes - 4))
        return damaged("no MPEG audio frame after the tag");
    frame.resize(first.bytes);
    LameHeader lame;
    if (Status status = parseLameHeader(frame, first, lame); !status.ok())
        return status;

    const AVCRC *table = av_crc_get_table(AV_CRC_16_ANSI_LE);
    uint16_t crc = 0;
    int64_t frames = 0;
    uint64_t bytes = first.bytes;
    frame.resize(maxFrameBytes);
    for (;;) {
        const std::size_t got = std::fread(frame.data(), 1, 4, file.get());
        if (got == 0 && std::feof(file.get()))
            break;
        FrameHeader header;
        if (got != 4 || !parseHeader(frame.data(), header) || header.sampleRate != first.sampleRate
            || !readExactly(file.get(), frame.data() + 4, header.bytes - 4))
            return damaged("no whole MPEG audio frame at byte " + std::to_string(audioStart + bytes));
        crc = static_cast<uint16_t>(av_crc(table, crc, frame.data(), header.bytes));
        bytes += header.bytes;
        ++frames;
    }
    if (std::ferror(file.get()))
        return systemFailure("cannot read back the written MP3", errno);

    if (frames != lame.frames)
        return damaged(std::to_string(frames) + " audio frames where the Xing header counts "
                       + std::to_string(lame.frames));
    if (bytes != lame.musicBytes || crc != lame.musicCrc)
        return damaged("its audio does not match the LAME header's length and checksum");
    const int64_t samples = frames * first.samplesPerFrame - lame.delay - lame.padding;
    if (samples != samplesEncoded)
        return Status::failure("the written MP3 holds " + std::to_string(samples) + " samples, not the "
                               + std::to_string(samplesEncoded) + " that were encoded");
    return Status::success();
}
