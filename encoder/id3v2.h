#pragma once

#include "tags.h"

#include <cstdint>
#include <vector>

// An ID3v2.3 tag holding the tags (TIT2, TPE1, TALB, TPE2, TRCK, TPOS,
// TYER/TDAT, TCON, COMM) and the cover (APIC), to be written at the very
// start of the MP3. Text is ISO-8859-1 when it is plain ASCII, otherwise
// UTF-16 with a byte order mark. Empty when there is nothing to write.
std::vector<uint8_t> buildId3v23Tag(const Tags &tags, const Picture *cover);
