#include "input/probe.h"

#include "input/decoder.h"
#include "input/input.h"
#include "input/lengthfields.h"
#include "common/averror.h"
#include "common/interruption.h"
#include "midi/midifile.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

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

bool isMp4(const Input &input)
{
    return std::strcmp(input.format->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0;
}

// The length an MP4's conversion decodes, from its packets alone: libavformat
// marks the packets outside the edit list as discarded and asks for samples
// to be skipped at the start and left out at the end; libavcodec's decoder
// drops the frames of discarded packets (counting them against the samples
// to skip) and cuts the rest. An AAC packet decodes to a whole frame
// whatever its stated duration (the last one states the padding's end).
Status mp4DecodedSeconds(const std::string &path, double &seconds)
{
    Input input;
    if (Status status = openInput(path, input); !status.ok())
        return status;
    const AVStream *audio = input.audio;
    const int rate = audio->codecpar->sample_rate;
    if (rate <= 0)
        return Status::failure("the input's audio states no sample rate");
    const bool aac = audio->codecpar->codec_id == AV_CODEC_ID_AAC;
    libav::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return Status::failure("out of memory");
    int64_t frameSamples = aac ? audio->codecpar->frame_size : 0;
    int64_t toSkip = 0;
    int64_t padding = 0;
    int64_t decoded = 0;
    for (;;) {
        const int error = av_read_frame(input.format.get(), packet.get());
        if (error == AVERROR_EOF)
            break;
        if (error == AVERROR_EXIT || interruption::requestedBy())
            return interruption::stopped();
        if (error < 0)
            return avFailure("cannot read the input", error);
        if (packet->stream_index != audio->index) {
            av_packet_unref(packet.get());
            continue;
        }
        const int64_t stated = av_rescale_q(packet->duration, audio->time_base, AVRational{1, rate});
        if (aac && frameSamples <= 0)
            frameSamples = stated;
        int64_t samples = aac ? frameSamples : stated;
        std::size_t sideSize = 0;
        if (const uint8_t *side = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
            side && sideSize >= 10) {
            toSkip = std::max<int64_t>(0, static_cast<int32_t>(AV_RL32(side)));
            padding = AV_RL32(side + 4);
        }
        if (packet->flags & AV_PKT_FLAG_DISCARD) {
            toSkip = std::max<int64_t>(0, toSkip - samples);
        } else {
            const int64_t skipped = std::min(toSkip, samples);
            toSkip -= skipped;
            decoded += samples - skipped;
        }
        av_packet_unref(packet.get());
    }
    seconds = static_cast<double>(std::max<int64_t>(0, decoded - padding)) / rate;
    return Status::success();
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
    // Where the header leaves the length open, the probe takes what the
    // conversion will decode.
    if (isMp4(input)) {
        if (Status status = decodeFirstFrame(decoder); !status.ok())
            return status;
        if (Status status = mp4DecodedSeconds(path, duration); !status.ok())
            return status;
    } else if (duration < 0.0 || readLengthFields(path).ambiguous) {
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
