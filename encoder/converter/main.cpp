// Morvane's converter (morvane-converter). The program starts the front
// ("ffmpeg", front/), which answers most probes itself and execs this
// program, beside it, with the same arguments for everything else (see
// converter/tool.h).

#include "converter/tool.h"

int main(int argc, char **argv)
{
    return runConverter(argc, argv, ConversionOptions{});
}
