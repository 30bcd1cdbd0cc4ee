#pragma once

#include <taglib/tiostream.h>

// A native FLAC file (starting "fLaC"): the total of samples in STREAMINFO,
// read with TagLib, at its rate. The converter's probe takes the same total
// but also decodes the first frame, so the answer is given only when that
// frame is whole and intact (CRC-8 and CRC-16) and in agreement with STREAMINFO
// in rate, channels, sample size and block size; a total of 0 (a stream of
// unknown length) gives false. `descriptor` is the open file.
bool flacSeconds(TagLib::IOStream *stream, int descriptor, long &seconds);
