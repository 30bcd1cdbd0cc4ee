#pragma once

#include "common/status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Changing user text frames (TXXX) in an MP3's existing ID3v2 tag without
// touching anything else in it, for values that are known only after the
// MP3 was written (the album gain).

// The size of the ID3v2 tag whose 10-byte header starts `header` (header,
// frames, padding and footer), or 0 when it starts no tag.
std::size_t id3v2TagSize(const uint8_t *header, std::size_t length);

// The tag (empty: none yet, which gives a new ID3v2.3 tag) without its TXXX
// frames whose description is one of `removed` (in any case), with a
// Latin-1 TXXX frame for each of `added` (description, value) after the
// other frames, which stay as they were, byte for byte. The result is padded
// to at least minSize bytes. Fails for a tag that is not ID3v2.3 or 2.4, or
// has its frames unsynchronised, an extended header or frames that run past
// its end.
Status updateUserTexts(const std::vector<uint8_t> &tag, const std::vector<std::string> &removed,
                       const std::vector<std::pair<std::string, std::string>> &added, std::size_t minSize,
                       std::vector<uint8_t> &result);
