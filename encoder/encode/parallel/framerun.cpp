#include "encode/parallel/framerun.h"

#include "common/averror.h"

#include <cstring>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace parallel {

FrameRun::FrameRun(const AudioFormat &format, int frameSize, int64_t reserved)
    : frameSize_(frameSize)
{
    const bool planar = av_sample_fmt_is_planar(format.sampleFormat);
    sampleBytes_ = static_cast<std::size_t>(av_get_bytes_per_sample(format.sampleFormat))
                   * static_cast<std::size_t>(planar ? 1 : format.channels);
    planes_.resize(planar ? static_cast<std::size_t>(format.channels) : 1);
    for (std::vector<uint8_t> &plane : planes_)
        plane.reserve(static_cast<std::size_t>(reserved) * static_cast<std::size_t>(frameSize) * sampleBytes_);
    samples_.reserve(static_cast<std::size_t>(reserved));
}

Status FrameRun::append(const AVFrame &frame)
{
    if (frame.nb_samples < 0 || frame.nb_samples > frameSize_)
        return Status::failure("a frame of " + std::to_string(frame.nb_samples) + " samples where the encoder takes "
                               + std::to_string(frameSize_));
    const std::size_t bytes = static_cast<std::size_t>(frame.nb_samples) * sampleBytes_;
    const std::size_t slot = slotBytes();
    for (std::size_t p = 0; p < planes_.size(); ++p) {
        std::vector<uint8_t> &plane = planes_[p];
        plane.insert(plane.end(), frame.extended_data[p], frame.extended_data[p] + bytes);
        plane.resize(plane.size() + slot - bytes); // a short frame keeps a whole slot
    }
    samples_.push_back(frame.nb_samples);
    return Status::success();
}

void FrameRun::copyTail(int64_t from, FrameRun &to) const
{
    const std::size_t slot = slotBytes();
    for (std::size_t p = 0; p < planes_.size(); ++p)
        to.planes_[p].insert(to.planes_[p].end(), planes_[p].begin() + static_cast<std::ptrdiff_t>(from * slot),
                             planes_[p].end());
    to.samples_.insert(to.samples_.end(), samples_.begin() + from, samples_.end());
}

void FrameRun::truncate(int64_t count)
{
    if (count >= frames())
        return;
    const std::size_t slot = slotBytes();
    for (std::vector<uint8_t> &plane : planes_)
        plane.resize(static_cast<std::size_t>(count) * slot);
    samples_.resize(static_cast<std::size_t>(count));
}

Status FrameRun::get(int64_t i, AVFrame &frame) const
{
    frame.nb_samples = frameSize_;
    if (const int error = av_frame_make_writable(&frame); error < 0)
        return avFailure("cannot allocate sample buffers", error);
    frame.nb_samples = samples_[static_cast<std::size_t>(i)];
    const std::size_t slot = slotBytes();
    for (std::size_t p = 0; p < planes_.size(); ++p)
        std::memcpy(frame.extended_data[p], planes_[p].data() + static_cast<std::size_t>(i) * slot,
                    static_cast<std::size_t>(frame.nb_samples) * sampleBytes_);
    return Status::success();
}

void FrameRun::clear()
{
    for (std::vector<uint8_t> &plane : planes_)
        std::vector<uint8_t>().swap(plane);
    std::vector<int>().swap(samples_);
}

} // namespace parallel
