// The converter (morvane-converter) without the loudness measurement, to
// price it: the same libraries and command line, no ReplayGain values in
// the tag. The scripts beside it run it as the converter behind a copy of
// the front (common.sh, make_noloudness_bin).
#include "converter/tool.h"

int main(int argc, char **argv)
{
    ConversionOptions options;
    options.measureLoudness = false;
    return runConverter(argc, argv, options);
}
