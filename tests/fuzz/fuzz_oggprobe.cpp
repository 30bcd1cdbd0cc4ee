// The front's Ogg page reader, for Vorbis and for Opus, on any bytes.
#include "front/oggprobe.h"
#include "fuzzinput.h"
#include "tags/taglibquiet.h"

#include <taglib/tbytevectorstream.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (silenceTagLib(), true);
    (void)quiet;
    const TagLib::ByteVector bytes(reinterpret_cast<const char *>(data), static_cast<unsigned>(size));
    long seconds = -1;
    TagLib::ByteVectorStream vorbis(bytes);
    if (oggVorbisSeconds(&vorbis, seconds))
        FUZZ_CHECK(seconds >= 0);
    seconds = -1;
    TagLib::ByteVectorStream opus(bytes);
    if (oggOpusSeconds(&opus, seconds))
        FUZZ_CHECK(seconds >= 0);
    return 0;
}
