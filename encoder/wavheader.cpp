#include "wavheader.h"

#include <cstring>
#include <fstream>

namespace {

constexpr int maxChunksBeforeData = 64;
constexpr uint32_t unknownSize = 0xFFFFFFFF;

uint32_t littleEndian32(const unsigned char *bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t(bytes[3]) << 24);
}

} // namespace

uint64_t announcedWavDataBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char header[12];
    if (!file.read(reinterpret_cast<char *>(header), sizeof header) || std::memcmp(header, "RIFF", 4) != 0
        || std::memcmp(header + 8, "WAVE", 4) != 0)
        return 0;
    for (int chunk = 0; chunk < maxChunksBeforeData; ++chunk) {
        unsigned char chunkHeader[8];
        if (!file.read(reinterpret_cast<char *>(chunkHeader), sizeof chunkHeader))
            return 0;
        const uint32_t size = littleEndian32(chunkHeader + 4);
        if (std::memcmp(chunkHeader, "data", 4) == 0)
            return size == unknownSize ? 0 : size;
        file.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur); // chunks are padded to even sizes
    }
    return 0;
}
