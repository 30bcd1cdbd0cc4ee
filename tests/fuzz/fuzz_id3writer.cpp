// The ID3v2.3 writer on any tag values: the input's bytes, split at zero
// bytes, fill the fields in turn. The tag must be well formed and TagLib
// must read back the text it was given.
#include "fuzzinput.h"
#include "tags/id3v2.h"
#include "tags/taglibquiet.h"

#include <algorithm>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>

namespace {

// UTF-8 without the code points TagLib treats as byte order marks, which
// it strips from the front of UTF-16 text.
bool plainUtf8(const std::string &text)
{
    const TagLib::String decoded(text, TagLib::String::UTF8);
    if (decoded.to8Bit(true) != text)
        return false;
    for (auto c : decoded)
        if (c == 0xFEFF || c == 0xFFFE)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (silenceTagLib(), true);
    (void)quiet;
    size = std::min<std::size_t>(size, 256 * 1024); // more than any real tag's text, and TagLib reads it back quickly
    std::vector<std::string> values(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            values.emplace_back();
        else
            values.back() += static_cast<char>(data[i]);
    }
    Tags tags;
    std::string *const fields[] = {&tags.title,   &tags.artist,    &tags.album,      &tags.albumArtist,
                                   &tags.track,   &tags.disc,      &tags.date,       &tags.genre,
                                   &tags.comment, &tags.composer,  &tags.lyrics,     &tags.copyright,
                                   &tags.titleSort, &tags.artistSort, &tags.albumSort, &tags.albumArtistSort,
                                   &tags.composerSort, &tags.musicBrainzTrackId};
    std::size_t next = 0;
    for (std::string *field : fields)
        if (next < values.size())
            *field = values[next++];
    tags.compilation = size > 0 && (data[0] & 1);
    for (; next + 1 < values.size(); next += 2)
        tags.userTexts.emplace_back(values[next], values[next + 1]);
    Picture cover;
    const bool withCover = size > 1 && (data[1] & 1);
    if (withCover) {
        cover.mimeType = "image/png";
        cover.data.assign(data, data + size);
    }
    const std::size_t minSize = size > 2 ? data[2] * 16u : 0;

    const std::vector<uint8_t> tag = buildId3v23Tag(tags, withCover ? &cover : nullptr, minSize);
    FUZZ_CHECK(tag.size() >= 10 && tag.size() >= minSize);
    FUZZ_CHECK(tag[0] == 'I' && tag[1] == 'D' && tag[2] == '3' && tag[3] == 3 && tag[4] == 0 && tag[5] == 0);
    FUZZ_CHECK(((tag[6] | tag[7] | tag[8] | tag[9]) & 0x80) == 0);
    const std::size_t stated = std::size_t(tag[6]) << 21 | tag[7] << 14 | tag[8] << 7 | tag[9];
    FUZZ_CHECK(stated == tag.size() - 10);

    // Frames run from the header to the padding, each inside the tag.
    std::size_t at = 10;
    while (at + 10 <= tag.size() && tag[at] != 0) {
        const std::size_t frame = std::size_t(tag[at + 4]) << 24 | tag[at + 5] << 16 | tag[at + 6] << 8 | tag[at + 7];
        FUZZ_CHECK(frame > 0 && at + 10 + frame <= tag.size());
        at += 10 + frame;
    }
    for (; at < tag.size(); ++at)
        FUZZ_CHECK(tag[at] == 0);

    TagLib::ByteVector bytes(reinterpret_cast<const char *>(tag.data()), static_cast<unsigned>(tag.size()));
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    TagLib::ID3v2::Tag *read = file.ID3v2Tag();
    FUZZ_CHECK(read != nullptr);
    for (const auto &[value, back] : {std::pair{tags.title, read->title()}, {tags.artist, read->artist()},
                                      {tags.album, read->album()}})
        if (plainUtf8(value))
            FUZZ_CHECK(back == TagLib::String(value, TagLib::String::UTF8));
    return 0;
}
