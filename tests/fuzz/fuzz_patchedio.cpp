// A streamed file's header patches, read through PatchedIo: whatever the
// reads and seeks, the demuxer sees exactly the file's bytes with the
// patches laid over them. Then the file is opened as the tool opens it and
// its first packets read.
#include "fuzzinput.h"
#include "input/input.h"
#include "input/lengthfields.h"
#include "input/patchedio.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    const std::string &path = fuzz::inputFile(data, size);
    const LengthFields fields = readLengthFields(path);

    std::vector<uint8_t> expected(data, data + size);
    for (const HeaderPatch &patch : fields.patches)
        for (std::size_t i = 0; i < patch.bytes.size() && patch.offset + i < size; ++i)
            expected[patch.offset + i] = patch.bytes[i];

    AVIOContext *opened = nullptr;
    FUZZ_CHECK(avio_open(&opened, path.c_str(), AVIO_FLAG_READ) >= 0);
    libav::IoContextPtr file(opened);
    std::unique_ptr<PatchedIo> io;
    FUZZ_CHECK(PatchedIo::open(file.get(), fields.patches, io).ok());
    AVIOContext *patched = io->context();
    FUZZ_CHECK(avio_size(patched) == static_cast<int64_t>(size));

    // Reads from the start, then from places the input's first bytes choose.
    std::vector<uint8_t> got(4096);
    for (std::size_t round = 0; round < 5; ++round) {
        std::size_t from = 0;
        if (round > 0 && size >= 2 * round) {
            from = (std::size_t(data[2 * round - 2]) << 8 | data[2 * round - 1]) % (size + 1);
            FUZZ_CHECK(avio_seek(patched, static_cast<int64_t>(from), SEEK_SET) == static_cast<int64_t>(from));
        } else if (round > 0) {
            break;
        }
        const int read = avio_read(patched, got.data(), static_cast<int>(got.size()));
        const std::size_t want = std::min(got.size(), size - from);
        FUZZ_CHECK(want == 0 ? read <= 0 : read == static_cast<int>(want));
        FUZZ_CHECK(want == 0 || std::memcmp(got.data(), expected.data() + from, want) == 0);
    }

    Input input;
    if (!openInput(path, input).ok())
        return 0;
    libav::PacketPtr packet(av_packet_alloc());
    for (int i = 0; i < 64 && av_read_frame(input.format.get(), packet.get()) >= 0; ++i)
        av_packet_unref(packet.get());
    return 0;
}
