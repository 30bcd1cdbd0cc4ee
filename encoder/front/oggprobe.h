#pragma once

#include <taglib/tiostream.h>

// Ogg Vorbis and Opus (one logical stream, complete up to its last page): the
// length is the granule position of the last page, in samples at the
// stream's rate (Opus counts at 48 kHz, pre-skip included), as libavformat
// reports it for a stream that starts at zero. A file whose first audio page
// shows a later start (a recording cut out of a live stream), that is cut
// short, or whose pages read here fail their checksum gives false.
bool oggVorbisSeconds(TagLib::IOStream *stream, long &seconds);
bool oggOpusSeconds(TagLib::IOStream *stream, long &seconds);
