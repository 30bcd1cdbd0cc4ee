#include "input/patchedio.h"

#include <algorithm>

namespace {

constexpr int bufferSize = 64 * 1024;

} // namespace

PatchedIo::PatchedIo(AVIOContext *file, std::vector<HeaderPatch> patches) : file_(file), patches_(std::move(patches))
{
}

PatchedIo::~PatchedIo()
{
    if (context_) {
        av_freep(&context_->buffer); // the context may have replaced the buffer it was given
        avio_context_free(&context_);
    }
}

Status PatchedIo::open(AVIOContext *file, std::vector<HeaderPatch> patches, std::unique_ptr<PatchedIo> &result)
{
    std::unique_ptr<PatchedIo> io(new PatchedIo(file, std::move(patches)));
    auto *buffer = static_cast<unsigned char *>(av_malloc(bufferSize));
    if (!buffer)
        return Status::failure("out of memory");
    io->context_ = avio_alloc_context(buffer, bufferSize, 0, io.get(), &PatchedIo::read, nullptr, &PatchedIo::seek);
    if (!io->context_) {
        av_free(buffer);
        return Status::failure("out of memory");
    }
    result = std::move(io);
    return Status::success();
}

int PatchedIo::read(void *opaque, uint8_t *buffer, int size)
{
    auto *self = static_cast<PatchedIo *>(opaque);
    const int64_t start = avio_tell(self->file_);
    const int got = avio_read(self->file_, buffer, size);
    if (got <= 0)
        return got == 0 ? AVERROR_EOF : got;
    const uint64_t begin = static_cast<uint64_t>(start);
    const uint64_t end = begin + static_cast<uint64_t>(got);
    for (const HeaderPatch &patch : self->patches_) {
        const uint64_t from = std::max(begin, patch.offset);
        const uint64_t to = std::min(end, patch.offset + patch.bytes.size());
        for (uint64_t at = from; at < to; ++at)
            buffer[at - begin] = patch.bytes[at - patch.offset];
    }
    return got;
}

int64_t PatchedIo::seek(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<PatchedIo *>(opaque);
    if (whence & AVSEEK_SIZE)
        return avio_size(self->file_);
    return avio_seek(self->file_, offset, whence & ~AVSEEK_FORCE);
}
