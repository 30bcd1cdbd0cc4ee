#pragma once

#include "common/status.h"

#include <cstdint>
#include <string>

// Reads back the MP3 at path as written by Mp3Writer and checks that it
// holds exactly the audio fed to the encoder: an unbroken run of MPEG audio
// frames after the ID3v2 tag and the Xing/LAME frame, as many as the Xing
// header counts, whose samples less the LAME header's encoder delay and
// padding are exactly samplesEncoded, with the LAME header's music length
// and CRC matching what was read.
Status checkWrittenMp3(const std::string &path, int64_t samplesEncoded);
