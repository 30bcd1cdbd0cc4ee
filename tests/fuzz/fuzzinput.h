// What the harnesses share: the input written to a file for the entry
// points that take a path, and a check that stops the run on a broken
// promise (the fuzzer keeps the input that broke it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

// One temporary file per process, rewritten for every input (a fuzzer runs
// inputs one after another in one thread) and removed at exit. It lies in
// memory (/dev/shm) unless TMPDIR names a folder: on a disk, rewriting it
// takes most of each run.
class InputFile
{
public:
    InputFile()
    {
        const char *tmp = std::getenv("TMPDIR");
        const bool shm = access("/dev/shm", W_OK) == 0;
        path_ = std::string(tmp && *tmp ? tmp : shm ? "/dev/shm" : "/tmp") + "/morvane-fuzz-XXXXXX";
        descriptor_ = mkstemp(path_.data());
        if (descriptor_ < 0) {
            std::perror("mkstemp");
            std::abort();
        }
    }
    ~InputFile()
    {
        close(descriptor_);
        unlink(path_.c_str());
    }

    // The file holding exactly data.
    const std::string &write(const uint8_t *data, std::size_t size)
    {
        if (ftruncate(descriptor_, 0) != 0 || pwrite(descriptor_, data, size, 0) != static_cast<ssize_t>(size)) {
            std::perror(path_.c_str());
            std::abort();
        }
        return path_;
    }

private:
    std::string path_;
    int descriptor_ = -1;
};

inline const std::string &inputFile(const uint8_t *data, std::size_t size)
{
    static InputFile file;
    return file.write(data, size);
}

} // namespace fuzz

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
