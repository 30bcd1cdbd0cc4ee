// Runs a harness over files instead of under libFuzzer: every regular file
// of the folders (or the files) given, each once. The test build registers
// one with CTest per harness, over the seed and the regression corpus.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace {

// No input of a few kilobytes may make the readers take this much memory
// (libFuzzer's own limit is 2 GiB; this one leaves room for sanitizers).
constexpr long kMaxResidentKiB = 1024 * 1024;

bool replay(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    std::vector<char> bytes(file ? static_cast<std::size_t>(file.tellg()) : 0);
    if (!file || !file.seekg(0) || !file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str()); // the last one named is the one that failed
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    rusage usage = {};
    if (getrusage(RUSAGE_SELF, &usage) == 0 && usage.ru_maxrss > kMaxResidentKiB) {
        std::fprintf(stderr, "%s took %ld MiB\n", path.c_str(), usage.ru_maxrss / 1024);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const std::filesystem::path root(argv[i]);
        if (std::filesystem::is_regular_file(root)) {
            if (!replay(root))
                return 1;
            ++runs;
            continue;
        }
        for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end;
             it.increment(error)) {
            if (!it->is_regular_file())
                continue;
            if (!replay(it->path()))
                return 1;
            ++runs;
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    std::printf("%d inputs\n", runs);
    return runs > 0 ? 0 : 1; // nothing to run means the corpus was not made
}
