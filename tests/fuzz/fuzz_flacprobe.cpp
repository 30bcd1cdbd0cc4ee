// The front's FLAC reader: STREAMINFO through TagLib and the first frame's
// header read by hand, on any bytes.
#include "front/flacprobe.h"
#include "fuzzinput.h"
#include "tags/taglibquiet.h"

#include <fcntl.h>
#include <taglib/tfilestream.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (silenceTagLib(), true);
    (void)quiet;
    const std::string &path = fuzz::inputFile(data, size);
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(descriptor >= 0);
    {
        TagLib::FileStream stream(fcntl(descriptor, F_DUPFD_CLOEXEC, 0), true); // closes its copy
        long seconds = -1;
        if (flacSeconds(&stream, descriptor, seconds))
            FUZZ_CHECK(seconds >= 0);
    }
    close(descriptor);
    return 0;
}
