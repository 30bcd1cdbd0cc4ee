// The read-back of a written MP3 on any bytes. The count of samples it is
// checked against comes from the input's last bytes, so that the fuzzer can
// also reach the check's success.
#include "fuzzinput.h"
#include "output/mp3check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    int64_t samples = 0;
    for (std::size_t i = size >= 4 ? size - 4 : 0; i < size; ++i)
        samples = samples << 8 | data[i];
    const std::string &path = fuzz::inputFile(data, size);
    (void)checkWrittenMp3(path, samples).ok();
    return 0;
}
