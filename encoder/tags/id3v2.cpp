#include "tags/id3v2.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t latin1Encoding = 0;
constexpr uint8_t utf16Encoding = 1;
constexpr uint8_t frontCoverPicture = 3;

// Length of the UTF-8 sequence a lead byte starts; 0 if it starts none.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

// The code point of the well-formed sequence of that length at text[i], or -1.
long decodeSequence(const std::string &text, std::size_t i, int length)
{
    static constexpr long leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr long smallest[] = {0, 0, 0x80, 0x800, 0x10000}; // shorter forms are not allowed
    if (length == 0 || i + length > text.size())
        return -1;
    long codePoint = static_cast<unsigned char>(text[i]) & leadBits[length];
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return -1;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < smallest[length] || surrogate || codePoint > 0x10FFFF ? -1 : codePoint;
}

// Decodes UTF-8; a byte that does not start a valid sequence is taken as a
// Latin-1 character, as older tag formats often hold Latin-1 text.
std::u32string decodeUtf8(const std::string &text)
{
    std::u32string result;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = sequenceLength(lead);
        const long codePoint = decodeSequence(text, i, length);
        if (codePoint >= 0) {
            result += static_cast<char32_t>(codePoint);
            i += static_cast<std::size_t>(length);
        } else {
            result += static_cast<char32_t>(lead);
            ++i;
        }
    }
    return result;
}

// The text as ISO-8859-1, or false when a character lies beyond it.
bool toLatin1(const std::string &text, std::string &latin1)
{
    latin1.clear();
    for (char32_t codePoint : decodeUtf8(text)) {
        if (codePoint > 0xFF)
            return false;
        latin1 += static_cast<char>(codePoint);
    }
    return true;
}

bool fitsLatin1(const std::string &text)
{
    std::string unused;
    return toLatin1(text, unused);
}

void appendUtf16(Bytes &out, const std::string &text)
{
    out.push_back(0xFF); // byte order mark: little-endian
    out.push_back(0xFE);
    const auto unit = [&](uint32_t value) {
        out.push_back(static_cast<uint8_t>(value & 0xFF));
        out.push_back(static_cast<uint8_t>(value >> 8));
    };
    for (char32_t codePoint : decodeUtf8(text)) {
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            unit(0xD800 | (codePoint >> 10));
            unit(0xDC00 | (codePoint & 0x3FF));
        } else {
            unit(codePoint);
        }
    }
}

// Appends text in the frame's encoding, with a terminator when more
// fields follow it.
void appendText(Bytes &out, uint8_t encoding, const std::string &text, bool terminated)
{
    if (encoding == latin1Encoding) {
        std::string latin1;
        toLatin1(text, latin1);
        out.insert(out.end(), latin1.begin(), latin1.end());
        if (terminated)
            out.push_back(0);
    } else {
        appendUtf16(out, text);
        if (terminated)
            out.insert(out.end(), {0, 0});
    }
}

void appendFrame(Bytes &tag, const char *id, const Bytes &body)
{
    tag.insert(tag.end(), id, id + 4);
    const auto size = static_cast<uint32_t>(body.size());
    tag.insert(tag.end(), {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                           static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
    tag.insert(tag.end(), {0, 0}); // flags
    tag.insert(tag.end(), body.begin(), body.end());
}

void appendTextFrame(Bytes &tag, const char *id, const std::string &value)
{
    if (value.empty())
        return;
    const uint8_t encoding = fitsLatin1(value) ? latin1Encoding : utf16Encoding;
    Bytes body{encoding};
    appendText(body, encoding, value, false);
    appendFrame(tag, id, body);
}

// A frame with a description before its value (COMM, USLT, TXXX).
void appendDescribedFrame(Bytes &tag, const char *id, const char *language, const std::string &description,
                          const std::string &value)
{
    if (value.empty())
        return;
    const uint8_t encoding = fitsLatin1(value) && fitsLatin1(description) ? latin1Encoding : utf16Encoding;
    Bytes body{encoding};
    if (language)
        body.insert(body.end(), language, language + 3);
    appendText(body, encoding, description, true);
    appendText(body, encoding, value, false);
    appendFrame(tag, id, body);
}

bool allDigits(const std::string &text, std::size_t from, std::size_t count)
{
    if (text.size() < from + count)
        return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// ID3v2.3 keeps the year (TYER) and day and month (TDAT, "DDMM") apart; a
// date in neither shape is kept as user text.
void appendDate(Bytes &tag, const std::string &date)
{
    if (!allDigits(date, 0, 4)) {
        appendDescribedFrame(tag, "TXXX", nullptr, "date", date);
        return;
    }
    appendTextFrame(tag, "TYER", date.substr(0, 4));
    if (date.size() >= 10 && date[4] == '-' && date[7] == '-' && allDigits(date, 5, 2) && allDigits(date, 8, 2))
        appendTextFrame(tag, "TDAT", date.substr(8, 2) + date.substr(5, 2));
}

// The owner's URL, then the identifier as bytes.
void appendUniqueId(Bytes &tag, const char *owner, const std::string &id)
{
    if (id.empty() || id.size() > 64)
        return;
    Bytes body(owner, owner + std::char_traits<char>::length(owner) + 1);
    body.insert(body.end(), id.begin(), id.end());
    appendFrame(tag, "UFID", body);
}

void appendPicture(Bytes &tag, const Picture &picture)
{
    Bytes body{latin1Encoding};
    appendText(body, latin1Encoding, picture.mimeType, true);
    body.push_back(frontCoverPicture);
    appendText(body, latin1Encoding, "", true); // no description
    body.insert(body.end(), picture.data.begin(), picture.data.end());
    appendFrame(tag, "APIC", body);
}

} // namespace

std::vector<uint8_t> buildId3v23Tag(const Tags &tags, const Picture *cover, std::size_t minSize)
{
    constexpr std::size_t headerSize = 10;
    Bytes frames(headerSize, 0); // the header is filled in once the size is known
    appendTextFrame(frames, "TIT2", tags.title);
    appendTextFrame(frames, "TPE1", tags.artist);
    appendTextFrame(frames, "TALB", tags.album);
    appendTextFrame(frames, "TPE2", tags.albumArtist);
    appendTextFrame(frames, "TRCK", tags.track);
    appendTextFrame(frames, "TPOS", tags.disc);
    if (!tags.date.empty())
        appendDate(frames, tags.date);
    appendTextFrame(frames, "TCON", tags.genre);
    appendTextFrame(frames, "TCOM", tags.composer);
    appendTextFrame(frames, "TCOP", tags.copyright);
    appendDescribedFrame(frames, "COMM", "eng", "", tags.comment);
    appendDescribedFrame(frames, "USLT", "eng", "", tags.lyrics);
    appendTextFrame(frames, "TCMP", tags.compilation ? "1" : "");
    appendTextFrame(frames, "TSOT", tags.titleSort);
    appendTextFrame(frames, "TSOP", tags.artistSort);
    appendTextFrame(frames, "TSOA", tags.albumSort);
    appendTextFrame(frames, "TSO2", tags.albumArtistSort);
    appendTextFrame(frames, "TSOC", tags.composerSort);
    appendUniqueId(frames, "http://musicbrainz.org", tags.musicBrainzTrackId);
    for (const auto &[description, value] : tags.userTexts)
        appendDescribedFrame(frames, "TXXX", nullptr, description, value);
    if (cover)
        appendPicture(frames, *cover);
    frames.resize(std::max(frames.size(), minSize), 0);

    // Header: "ID3", version 2.3.0, no flags, the size after the header in
    // four 7-bit bytes.
    const auto size = static_cast<uint32_t>(frames.size() - headerSize);
    const uint8_t header[] = {'I', 'D', '3', 3, 0, 0,
                              static_cast<uint8_t>((size >> 21) & 0x7F), static_cast<uint8_t>((size >> 14) & 0x7F),
                              static_cast<uint8_t>((size >> 7) & 0x7F), static_cast<uint8_t>(size & 0x7F)};
    std::copy(std::begin(header), std::end(header), frames.begin());
    return frames;
}
