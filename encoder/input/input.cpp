#include "input/input.h"

#include "common/averror.h"
#include "common/interruption.h"
#include "input/lengthfields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// Demuxers that read lists of other files or network streams rather than
// audio; an input detected as one of them is refused.
constexpr const char *refusedDemuxers[] = {"hls", "dash", "concat", "imf", "sdp", "rtsp", "rtp", "image2"};

// Containers whose header states the exact length of the audio.
constexpr const char *exactLengthDemuxers[] = {"wav", "w64", "flac", "aiff", "mp3", "caf", "wv", "ape", "tta",
                                               "mov,mp4,m4a,3gp,3g2,mj2"};

template<std::size_t N>
bool contains(const char *const (&names)[N], const char *name)
{
    for (const char *candidate : names)
        if (std::strcmp(candidate, name) == 0)
            return true;
    return false;
}

std::string allowedDemuxers()
{
    std::string list;
    void *iterator = nullptr;
    while (const AVInputFormat *demuxer = av_demuxer_iterate(&iterator)) {
        if (contains(refusedDemuxers, demuxer->name))
            continue;
        if (!list.empty())
            list += ',';
        list += demuxer->name;
    }
    return list;
}

// Every file a demuxer would open besides the input itself is refused.
int refuseNestedOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **)
{
    return AVERROR(EPERM);
}

Status checkRegularFile(const std::string &path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0)
        return systemFailure("cannot read input \"" + path + "\"", errno);
    if (!S_ISREG(info.st_mode))
        return Status::failure("input \"" + path + "\" is not a regular file");
    return Status::success();
}

// av_find_best_stream passes over audio streams whose header leaves out
// the sample rate or channels (MP3, FLAC: the decoder finds them in the
// stream); the first such stream is taken when it finds none.
int findAudioStream(const Input &input)
{
    const AVFormatContext *format = input.format.get();
    const int best = av_find_best_stream(input.format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (best >= 0)
        return best;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters *parameters = format->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->codec_id != AV_CODEC_ID_NONE)
            return static_cast<int>(i);
    }
    return -1;
}

// Picks the best audio stream, reading stream information only when the
// header alone does not describe it, and makes the demuxer skip the others.
Status selectAudioStream(Input &input)
{
    AVFormatContext *format = input.format.get();
    int index = findAudioStream(input);
    if (index < 0 || (format->ctx_flags & AVFMTCTX_NOHEADER)) {
        if (Status status = readStreamInfo(input); !status.ok())
            return status;
        index = findAudioStream(input);
    }
    if (index < 0)
        return Status::failure("input has no audio stream");

    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    input.audio = format->streams[index];
    return Status::success();
}

// A PCM WAV whose data runs past the end of the file loses its length in
// libavformat; the header still tells it (unless it is a placeholder).
double statedWavSeconds(const AVCodecParameters *parameters, const LengthFields &fields)
{
    const int bits = av_get_exact_bits_per_sample(parameters->codec_id);
    const double bytesPerSecond = static_cast<double>(parameters->sample_rate) * parameters->ch_layout.nb_channels * bits / 8;
    const bool wave = fields.container == LengthFields::Container::Wave || fields.container == LengthFields::Container::Rf64;
    const uint64_t bytes = wave && bits > 0 && bytesPerSecond > 0 ? fields.statedAudioBytes : 0;
    return bytes > 0 ? static_cast<double>(bytes) / bytesPerSecond : -1.0;
}

double statedSeconds(const Input &input, const LengthFields &fields)
{
    const AVStream *audio = input.audio;
    const char *demuxer = input.format->iformat->name;
    if (input.streamInfoRead || !contains(exactLengthDemuxers, demuxer))
        return -1.0;
    if (audio->duration > 0 && audio->duration != AV_NOPTS_VALUE) {
        const double seconds = static_cast<double>(audio->duration) * av_q2d(audio->time_base);
        // An edit that runs on past the samples plays only what they hold:
        // that is shorter, not cut.
        if (fields.container == LengthFields::Container::Mp4 && fields.mp4PlayableTicks > 0 && fields.mp4Timescale > 0)
            return std::min(seconds, static_cast<double>(fields.mp4PlayableTicks) / fields.mp4Timescale);
        return seconds;
    }
    if (std::strcmp(demuxer, "wav") == 0)
        return statedWavSeconds(audio->codecpar, fields);
    return -1.0;
}

} // namespace

Status readStreamInfo(Input &input)
{
    if (input.streamInfoRead)
        return Status::success();
    input.streamInfoRead = true;
    const int error = avformat_find_stream_info(input.format.get(), nullptr);
    if (error < 0)
        return avFailure("cannot read the input's streams", error);
    return Status::success();
}

Status openInput(const std::string &path, Input &input)
{
    if (Status status = checkRegularFile(path); !status.ok())
        return status;

    const std::string url = "file:" + path; // a ':' in the name is never a protocol
    const AVIOInterruptCB interrupt = interruption::ioCallback();
    libav::Options ioOptions;
    ioOptions.set("protocol_whitelist", "file");
    AVIOContext *io = nullptr;
    int error = avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &interrupt, ioOptions.get());
    if (error < 0)
        return avFailure("cannot open input \"" + path + "\"", error);
    input.io.reset(io);

    const LengthFields fields = readLengthFields(path);
    if (!fields.patches.empty()) {
        if (Status status = PatchedIo::open(io, fields.patches, input.patched); !status.ok())
            return status;
    }

    AVFormatContext *format = avformat_alloc_context();
    if (!format)
        return Status::failure("out of memory");
    format->pb = input.patched ? input.patched->context() : io;
    format->interrupt_callback = interrupt;
    format->io_open = refuseNestedOpen;
    libav::Options formatOptions;
    formatOptions.set("protocol_whitelist", "file");
    formatOptions.set("format_whitelist", allowedDemuxers().c_str());
    error = avformat_open_input(&format, url.c_str(), nullptr, formatOptions.get());
    if (error < 0) // the context was freed by the failed call
        return avFailure("cannot read input \"" + path + "\"", error);
    input.format.reset(format);

    if (Status status = selectAudioStream(input); !status.ok())
        return status;

    input.statedSeconds = statedSeconds(input, fields);
    return Status::success();
}
