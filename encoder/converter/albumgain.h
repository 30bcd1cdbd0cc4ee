#pragma once

#include "common/status.h"

#include <string>
#include <vector>

// ffmpeg -album-gain <mp3>...: reads one loudness line per MP3 from the
// descriptor `input` (what each one's conversion printed as its "Info
// loudness"), gates the blocks of all of them together for the album's
// integrated loudness, and writes REPLAYGAIN_ALBUM_GAIN (-18 LUFS reference)
// and REPLAYGAIN_ALBUM_PEAK (the largest track peak) into each MP3's ID3v2
// tag, in place of any album gain frames there. The tag is rewritten in
// place where its padding has room, as the conversion leaves it; otherwise
// the MP3 is copied with the larger tag into a temporary file that then
// replaces it, so an MP3 is never left half-written. Nothing is written
// unless every MP3 and line could be read.
Status writeAlbumGain(const std::vector<std::string> &mp3s, int input);
