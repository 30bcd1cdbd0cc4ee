#pragma once

#include "tags/tags.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// An ID3v2.3 tag holding the tags and the cover (APIC), to be written at
// the very start of the MP3, padded with zero bytes to at least `minSize`
// bytes in all: room that lets the tag be rewritten in place with more
// frames. Text is ISO-8859-1 where every character fits, otherwise UTF-16
// with a byte order mark.
std::vector<uint8_t> buildId3v23Tag(const Tags &tags, const Picture *cover, std::size_t minSize = 0);
