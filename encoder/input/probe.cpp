#include "input/probe.h"

#include "input/decoder.h"
#include "input/input.h"
#include "midi/midifile.h"

namespace {

// The stream's length, else the container's (stated or, after reading the
// stream information, estimated); negative if neither is known.
double knownSeconds(const Input &input)
{
    const AVStream *audio = input.audio;
    if (audio->duration != AV_NOPTS_VALUE && audio->duration > 0)
        return static_cast<double>(audio->duration) * av_q2d(audio->time_base);
    const AVFormatContext *format = input.format.get();
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return static_cast<double>(format->duration) / AV_TIME_BASE;
    return -1.0;
}

// Any bytes of raw PCM are samples; reading a first packet would only set
// libavformat searching 16-bit WAV data for compressed audio, which costs
// more than the rest of the probe.
bool isRawPcm(const AVStream *audio)
{
    return av_get_exact_bits_per_sample(audio->codecpar->codec_id) > 0;
}

Status decodeFirstFrame(AudioDecoder &decoder)
{
    libav::FramePtr frame(av_frame_alloc());
    if (!frame)
        return Status::failure("out of memory");
    bool finished = false;
    if (Status status = decoder.next(frame.get(), finished); !status.ok())
        return status;
    return finished ? decoder.checkComplete() : Status::success();
}

Status decodeAll(AudioDecoder &decoder)
{
    libav::FramePtr frame(av_frame_alloc());
    if (!frame)
        return Status::failure("out of memory");
    for (bool finished = false; !finished; av_frame_unref(frame.get())) {
        if (Status status = decoder.next(frame.get(), finished); !status.ok())
            return status;
    }
    return decoder.checkComplete();
}

} // namespace

Status probeDuration(const std::string &path, long &seconds)
{
    if (isMidiFile(path)) // rendered by FluidSynth, measured without rendering
        return probeMidiDuration(path, seconds);
    Input input;
    if (Status status = openInput(path, input); !status.ok())
        return status;
    double duration = knownSeconds(input);
    if (duration < 0.0) { // estimates (from the bit rate, say) need the stream information
        if (Status status = readStreamInfo(input); !status.ok())
            return status;
        duration = knownSeconds(input);
    }

    AudioDecoder decoder;
    if (Status status = decoder.open(input); !status.ok())
        return status;
    if (duration < 0.0) {
        if (Status status = decodeAll(decoder); !status.ok())
            return status;
        duration = decoder.decodedSeconds();
    } else if (!isRawPcm(input.audio)) {
        if (Status status = decodeFirstFrame(decoder); !status.ok())
            return status;
    }
    seconds = static_cast<long>(duration);
    return Status::success();
}
