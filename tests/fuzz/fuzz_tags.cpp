// The input's tags and cover on any file, as the converter reads them:
// TagLib, then libavformat's metadata of the opened input for what TagLib
// left empty, and the ID3v2.3 tag built from them.
#include "fuzzinput.h"
#include "input/input.h"
#include "tags/id3v2.h"
#include "tags/taglibquiet.h"
#include "tags/tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (silenceTagLib(), av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    const std::string &path = fuzz::inputFile(data, size);
    Input input;
    Tags tags;
    Picture cover;
    bool hasCover = false;
    if (openInput(path, input).ok()) {
        tags = readTags(path, input.format.get(), input.audio);
        hasCover = readCover(input.format.get(), cover);
        FUZZ_CHECK(!hasCover || (!cover.data.empty() && !cover.mimeType.empty()));
    } else {
        tags = readTagLibTags(path);
    }
    const std::vector<uint8_t> tag = buildId3v23Tag(tags, hasCover ? &cover : nullptr, 1024);
    FUZZ_CHECK(tag.size() >= 1024);
    return 0;
}
