// The front's probe on any file. Where it answers, it promises the answer
// of the converter's probe, so that probe runs too and must agree.
#include "front/tagprobe.h"
#include "fuzzinput.h"
#include "input/probe.h"
#include "tags/taglibquiet.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (silenceTagLib(), av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    const std::string &path = fuzz::inputFile(data, size);
    long front = -1;
    if (!probeWithTagLib(path, front))
        return 0;
    long converter = -1;
    const Status status = probeDuration(path, converter);
    if (!status.ok() || converter != front)
        std::fprintf(stderr, "front: %ld s, converter: %s\n", front,
                     status.ok() ? std::to_string(converter).c_str() : status.reason().c_str());
    FUZZ_CHECK(status.ok() && converter == front);
    return 0;
}
