// The WAV, RF64, Wave64 and AIFF length fields on any bytes, read by path
// and from an open descriptor (the front's way), which must agree.
#include "fuzzinput.h"
#include "input/lengthfields.h"

#include <fcntl.h>

namespace {

bool same(const LengthFields &a, const LengthFields &b)
{
    if (a.container != b.container || a.streamed != b.streamed || a.cutShort != b.cutShort
        || a.statedAudioBytes != b.statedAudioBytes || a.frameBytes != b.frameBytes
        || a.aiffSampleRate != b.aiffSampleRate || a.waveFormat != b.waveFormat
        || a.patches.size() != b.patches.size())
        return false;
    for (std::size_t i = 0; i < a.patches.size(); ++i)
        if (a.patches[i].offset != b.patches[i].offset || a.patches[i].bytes != b.patches[i].bytes)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string &path = fuzz::inputFile(data, size);
    const LengthFields fields = readLengthFields(path);
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(descriptor >= 0);
    const LengthFields again = readLengthFields(descriptor);
    close(descriptor);
    FUZZ_CHECK(same(fields, again));

    // Patches lie inside what the file holds.
    FUZZ_CHECK(!fields.streamed || fields.statedAudioBytes == 0);
    FUZZ_CHECK(!(fields.streamed && fields.cutShort));
    for (const HeaderPatch &patch : fields.patches)
        FUZZ_CHECK(!patch.bytes.empty() && patch.offset + patch.bytes.size() <= size);
    return 0;
}
