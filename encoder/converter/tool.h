#pragma once

#include "converter/convert.h"

// The converter's whole run on a command line of the tool contract, with
// the conversion done as options say; returns the exit status:
//   ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>
//       converts to MP3 and prints "##success##" once the MP3 is in place;
//   ffmpeg -i <input>
//       prints the length of the input's audio as "$<whole seconds>$";
//   ffmpeg -album-gain <mp3>...
//       writes the album gain of the MP3s, from their loudness lines on
//       standard input (converter/albumgain.h).
// Failures exit non-zero with a one-line reason on standard error; a stop
// request ends the process by its signal.
int runConverter(int argc, char **argv, const ConversionOptions &options);
