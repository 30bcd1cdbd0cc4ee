#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "input/lengthfields.h"

#include <memory>
#include <vector>

// Reads a file through its libav I/O context while showing the demuxer some
// header bytes rewritten: the placeholder length fields of a streamed file,
// replaced by the sizes the file really holds.
class PatchedIo
{
public:
    PatchedIo(const PatchedIo &) = delete;
    PatchedIo &operator=(const PatchedIo &) = delete;
    ~PatchedIo();

    // `file` stays owned by the caller and must outlive the result.
    static Status open(AVIOContext *file, std::vector<HeaderPatch> patches, std::unique_ptr<PatchedIo> &result);

    AVIOContext *context() const { return context_; }

private:
    PatchedIo(AVIOContext *file, std::vector<HeaderPatch> patches);
    static int read(void *opaque, uint8_t *buffer, int size);
    static int64_t seek(void *opaque, int64_t offset, int whence);

    AVIOContext *file_;
    std::vector<HeaderPatch> patches_;
    AVIOContext *context_ = nullptr;
};
