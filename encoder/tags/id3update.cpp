#include "tags/id3update.h"

#include <algorithm>
#include <cctype>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t headerSize = 10;
constexpr uint8_t unsynchronisedFlag = 0x80;
constexpr uint8_t extendedHeaderFlag = 0x40;
constexpr uint8_t footerFlag = 0x10; // ID3v2.4
constexpr uint32_t largestSize = 0x0FFFFFFF; // of four 7-bit bytes

uint32_t syncsafe(const uint8_t *bytes)
{
    return (uint32_t(bytes[0] & 0x7F) << 21) | (uint32_t(bytes[1] & 0x7F) << 14) | (uint32_t(bytes[2] & 0x7F) << 7)
        | uint32_t(bytes[3] & 0x7F);
}

void putSize(uint8_t *bytes, uint32_t size, bool syncsafe)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = syncsafe ? uint8_t((size >> (21 - 7 * i)) & 0x7F) : uint8_t(size >> (24 - 8 * i));
}

bool isFrameIdCharacter(uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool sameText(std::string a, std::string b)
{
    const auto lower = [](std::string &text) {
        for (char &c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    lower(a);
    lower(b);
    return a == b;
}

// A TXXX frame's description, as far as it is ASCII (enough to recognise
// the descriptions looked for): Latin-1 or UTF-8 up to its NUL, or UTF-16
// (with or without a byte order mark) up to its double NUL.
std::string userTextDescription(const uint8_t *body, std::size_t size)
{
    std::string description;
    if (size == 0)
        return description;
    const uint8_t encoding = body[0];
    if (encoding == 0 || encoding == 3) {
        for (std::size_t i = 1; i < size && body[i] != 0; ++i)
            description += static_cast<char>(body[i]);
        return description;
    }
    std::size_t i = 1;
    bool bigEndian = encoding == 2;
    if (encoding == 1 && size >= 3) {
        bigEndian = body[1] == 0xFE && body[2] == 0xFF;
        if ((body[1] == 0xFF && body[2] == 0xFE) || bigEndian)
            i = 3;
    }
    for (; i + 1 < size; i += 2) {
        const unsigned unit = bigEndian ? (body[i] << 8) | body[i + 1] : body[i] | (body[i + 1] << 8);
        if (unit == 0)
            break;
        description += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return description;
}

void appendUserText(Bytes &frames, const std::string &description, const std::string &value, bool syncsafeSizes)
{
    Bytes body{0}; // ISO-8859-1
    body.insert(body.end(), description.begin(), description.end());
    body.push_back(0);
    body.insert(body.end(), value.begin(), value.end());
    uint8_t header[headerSize] = {'T', 'X', 'X', 'X'};
    putSize(header + 4, static_cast<uint32_t>(body.size()), syncsafeSizes);
    frames.insert(frames.end(), header, header + headerSize);
    frames.insert(frames.end(), body.begin(), body.end());
}

} // namespace

std::size_t id3v2TagSize(const uint8_t *header, std::size_t length)
{
    if (length < headerSize || header[0] != 'I' || header[1] != 'D' || header[2] != '3' || header[3] == 0xFF
        || header[4] == 0xFF || (header[6] | header[7] | header[8] | header[9]) & 0x80)
        return 0;
    const bool footer = header[3] == 4 && (header[5] & footerFlag);
    return headerSize + syncsafe(header + 6) + (footer ? headerSize : 0);
}

Status updateUserTexts(const Bytes &tag, const std::vector<std::string> &removed,
                       const std::vector<std::pair<std::string, std::string>> &added, std::size_t minSize,
                       Bytes &result)
{
    uint8_t version = 3;
    std::size_t framesEnd = headerSize;
    if (!tag.empty()) {
        const std::size_t size = id3v2TagSize(tag.data(), tag.size());
        if (size == 0 || size > tag.size())
            return Status::failure("its ID3v2 tag is damaged");
        version = tag[3];
        if (version != 3 && version != 4)
            return Status::failure("its tag is ID3v2." + std::to_string(version) + ", not 2.3 or 2.4");
        if (tag[5] & (unsynchronisedFlag | extendedHeaderFlag))
            return Status::failure("its ID3v2 tag is unsynchronised or has an extended header");
        framesEnd = headerSize + syncsafe(tag.data() + 6);
    }
    const bool syncsafeSizes = version == 4;

    Bytes frames(headerSize, 0);
    std::size_t pos = headerSize;
    while (pos + headerSize <= framesEnd && tag[pos] != 0) {
        const uint8_t *frame = tag.data() + pos;
        if (!std::all_of(frame, frame + 4, isFrameIdCharacter))
            return Status::failure("its ID3v2 tag holds a frame without a valid name");
        const std::size_t size = syncsafeSizes ? syncsafe(frame + 4)
                                               : (std::size_t(frame[4]) << 24) | (std::size_t(frame[5]) << 16)
                                                   | (std::size_t(frame[6]) << 8) | frame[7];
        if (size > framesEnd - pos - headerSize)
            return Status::failure("a frame of its ID3v2 tag runs past the tag's end");
        // A compressed or encrypted body is no description to compare.
        const bool plain = syncsafeSizes ? !(frame[9] & 0x0C) : !(frame[9] & 0xC0);
        bool drop = false;
        if (plain && std::equal(frame, frame + 4, "TXXX")) {
            const std::string description = userTextDescription(frame + headerSize, size);
            drop = std::any_of(removed.begin(), removed.end(),
                               [&](const std::string &name) { return sameText(name, description); });
        }
        if (!drop)
            frames.insert(frames.end(), frame, frame + headerSize + size);
        pos += headerSize + size;
    }
    for (const auto &[description, value] : added)
        appendUserText(frames, description, value, syncsafeSizes);
    frames.resize(std::max(frames.size(), minSize), 0);
    if (frames.size() - headerSize > largestSize)
        return Status::failure("its ID3v2 tag would grow too large");

    const uint8_t header[6] = {'I', 'D', '3', version, 0, 0};
    std::copy(header, header + 6, frames.begin());
    putSize(frames.data() + 6, static_cast<uint32_t>(frames.size() - headerSize), true);
    result = std::move(frames);
    return Status::success();
}
