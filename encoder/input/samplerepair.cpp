#include "input/samplerepair.h"

#include "common/averror.h"
#include "common/libav.h"

#include <cmath>
#include <cstddef>

namespace {

template<typename T>
bool isDamaged(T sample)
{
    // Also true for NaN, which compares false with everything.
    return !(std::fabs(sample) <= static_cast<T>(kDamagedSampleLimit));
}

// Whether any sample is damaged: one pass without branches, as nearly every
// frame has none.
template<typename T>
bool anyDamaged(const T *samples, std::size_t count)
{
    bool damaged = false;
    for (std::size_t i = 0; i < count; ++i)
        damaged |= isDamaged(samples[i]);
    return damaged;
}

template<typename T>
long repair(T *samples, std::size_t count)
{
    long repaired = 0;
    for (std::size_t i = 0; i < count; ++i) {
        T &sample = samples[i];
        if (!isDamaged(sample))
            continue;
        sample = std::isfinite(sample) ? std::copysign(T(1), sample) : T(0);
        ++repaired;
    }
    return repaired;
}

template<typename T>
Status repairPlanes(AVFrame &frame, int planes, std::size_t perPlane, long &repaired)
{
    bool damaged = false;
    for (int plane = 0; plane < planes && !damaged; ++plane)
        damaged = anyDamaged(reinterpret_cast<const T *>(frame.extended_data[plane]), perPlane);
    if (!damaged)
        return Status::success();
    // The decoder may share its buffer with others.
    const int error = av_frame_make_writable(&frame);
    if (error < 0)
        return avFailure("cannot repair damaged samples", error);
    for (int plane = 0; plane < planes; ++plane)
        repaired += repair(reinterpret_cast<T *>(frame.extended_data[plane]), perPlane);
    return Status::success();
}

} // namespace

Status repairSamples(AVFrame &frame, long &repaired)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    if (frame.nb_samples <= 0 || channels <= 0)
        return Status::success();
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const std::size_t perPlane = static_cast<std::size_t>(frame.nb_samples) * (planar ? 1 : channels);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        return repairPlanes<float>(frame, planes, perPlane, repaired);
    case AV_SAMPLE_FMT_DBL:
        return repairPlanes<double>(frame, planes, perPlane, repaired);
    default:
        return Status::success();
    }
}
