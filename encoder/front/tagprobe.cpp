#include "front/tagprobe.h"

#include "front/flacprobe.h"
#include "front/oggprobe.h"
#include "front/wholeseconds.h"
#include "input/lengthfields.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <taglib/aifffile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/mpegheader.h>
#include <taglib/tfilestream.h>
#include <taglib/wavfile.h>
#include <taglib/xingheader.h>

namespace {

using TagLib::AudioProperties;

// libavformat gives an MP3 stream this time base.
constexpr long long mp3TimeBase = 14112000;
// Below this the Xing frame's byte count is too coarse a check (see mp3Seconds).
constexpr long long minimumMp3Bytes = 4096;
// The longest AAC frame: 2048 samples with SBR.
constexpr uint64_t maxAacFrameSamples = 2048;

// WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT (also as an extensible subformat).
constexpr unsigned wavePcm = 1;
constexpr unsigned waveFloat = 3;

enum class Kind { Other, Wave, Aiff, Flac, Mpeg, Vorbis, Opus, Mp4 };

// The container by its first bytes, as libavformat recognises them (never by
// the name's suffix).
Kind sniff(const unsigned char *head, std::size_t size)
{
    const auto at = [&](std::size_t offset, const char *text) {
        const std::size_t length = std::strlen(text);
        return offset + length <= size && std::memcmp(head + offset, text, length) == 0;
    };
    if (at(4, "ftypM4A ") || at(4, "ftypM4B "))
        return Kind::Mp4; // audio files; films and other brands go to the converter
    // libavformat takes any file whose bytes 4 to 8 name one of these
    // QuickTime boxes for QuickTime before all others (in a WAV or an AIFF,
    // that is the size field).
    for (const char *box : {"moov", "mdat", "pnot", "udta", "ftyp"})
        if (at(4, box))
            return Kind::Other;
    if (at(0, "RIFF") && at(8, "WAVE"))
        return Kind::Wave;
    if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC")))
        return Kind::Aiff;
    if (at(0, "fLaC"))
        return Kind::Flac;
    // Ogg: the first page holds the identification packet alone.
    if (at(0, "OggS") && size > 26 && head[26] == 1)
        return at(28, "\x01vorbis") ? Kind::Vorbis : at(28, "OpusHead") ? Kind::Opus : Kind::Other;
    if (at(0, "ID3") || (size >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0))
        return Kind::Mpeg;
    return Kind::Other;
}

// Up to 7.1. The decoder refuses channel counts beyond a limit of its own;
// a damaged count field in a header that is otherwise whole goes to the
// converter, which opens the decoder, and so do the rare files of many
// channels.
bool plainChannels(int channels)
{
    return channels >= 1 && channels <= 8;
}

// The whole second of a length known to lie in [low, high] milliseconds,
// or -1 when the interval spans a whole second.
long certainSecond(long long low, long long high)
{
    return low >= 0 && low / 1000 == high / 1000 ? static_cast<long>(low / 1000) : -1;
}

bool waveSeconds(TagLib::IOStream *stream, const LengthFields &fields, long &seconds)
{
    if (fields.container != LengthFields::Container::Wave || fields.streamed || fields.cutShort || fields.ambiguous
        || fields.frameBytes == 0)
        return false;
    TagLib::RIFF::WAV::File file(stream, true, AudioProperties::Average);
    const TagLib::RIFF::WAV::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    if (!properties || !plainChannels(properties->channels()))
        return false;
    const long long frames = properties->sampleFrames();
    const long long sampleBytes = (properties->bitsPerSample() + 7) / 8;
    // Plain samples (floats of 32 or 64 bits, the only ones libavformat
    // decodes), and TagLib's frame count is the data size in frames as
    // libavformat counts them.
    const bool floatSize = properties->bitsPerSample() == 32 || properties->bitsPerSample() == 64;
    if ((fields.waveFormat != wavePcm && (fields.waveFormat != waveFloat || !floatSize)) || frames <= 0
        || properties->sampleRate() <= 0 || static_cast<long long>(fields.frameBytes) != properties->channels() * sampleBytes
        || static_cast<long long>(fields.statedAudioBytes / fields.frameBytes) != frames)
        return false;
    seconds = wholeSeconds(frames, properties->sampleRate());
    return true;
}

bool aiffSeconds(TagLib::IOStream *stream, const LengthFields &fields, long &seconds)
{
    if (fields.container != LengthFields::Container::Aiff || fields.streamed || fields.cutShort || fields.ambiguous
        || fields.frameBytes == 0 || fields.aiffSampleRate == 0)
        return false;
    TagLib::RIFF::AIFF::File file(stream, true, AudioProperties::Average);
    const TagLib::RIFF::AIFF::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    if (!properties || !plainChannels(properties->channels()))
        return false;
    const long long frames = properties->sampleFrames();
    // All frames lie in the file, at a rate of whole hertz (libavformat
    // truncates others, TagLib rounds them).
    if (frames <= 0 || properties->sampleRate() != static_cast<long long>(fields.aiffSampleRate)
        || static_cast<unsigned long long>(frames) * fields.frameBytes > fields.statedAudioBytes)
        return false;
    seconds = wholeSeconds(frames, properties->sampleRate());
    return true;
}

// Only the frame count of a Xing or VBRI frame gives an MP3's length;
// without one TagLib estimates it from the bit rate.
bool mp3Seconds(TagLib::IOStream *stream, long &seconds)
{
    TagLib::MPEG::File file(stream, TagLib::ID3v2::FrameFactory::instance(), true, AudioProperties::Average);
    const TagLib::MPEG::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    const TagLib::MPEG::XingHeader *xing = properties ? properties->xingHeader() : nullptr;
    if (!xing || !xing->isValid() || xing->totalFrames() == 0 || properties->sampleRate() <= 0)
        return false;
    // The first frame follows the ID3v2 tag at once, and a second frame
    // follows it: no junk the demuxers might skip differently.
    const long first = file.firstFrameOffset();
    const long expectedFirst = file.hasID3v2Tag() ? static_cast<long>(file.ID3v2Tag()->header()->completeTagSize()) : 0;
    if (first != expectedFirst)
        return false;
    const TagLib::MPEG::Header header(&file, first, true);
    if (!header.isValid() || !TagLib::MPEG::Header(&file, first + header.frameLength(), false).isValid())
        return false;
    // libavformat ignores the frame count when the file is much longer than
    // the Xing frame says (concatenated files), and a file much shorter is
    // cut; within a tighter band than libavformat's (1/16) both agree.
    const long long held = file.length() - first;
    const long long stated = xing->totalSize();
    const long long smaller = std::min(held, stated);
    if (smaller < minimumMp3Bytes || std::max(held, stated) - smaller > smaller / 32)
        return false;
    const long long samplesPerFrame = header.samplesPerFrame();
    if (samplesPerFrame <= 0 || mp3TimeBase % properties->sampleRate() != 0)
        return false;
    const long long ticks =
        static_cast<long long>(xing->totalFrames()) * samplesPerFrame * (mp3TimeBase / properties->sampleRate());
    seconds = wholeSeconds(ticks, mp3TimeBase);
    return true;
}

// libavformat plays an M4A's samples within its edit list, which leaves out
// the encoder's delay and padding, but the decoder gives whole frames: the
// conversion holds at least what the edit keeps and at most the samples
// and one frame more. The answer is given when every length in between has
// the same whole second, and never for a file whose edit list, mdhd or
// tracks leave more open (see LengthFields::ambiguous).
bool m4aSeconds(TagLib::IOStream *stream, const LengthFields &fields, long &seconds)
{
    if (fields.container != LengthFields::Container::Mp4 || fields.ambiguous || fields.mp4Timescale == 0)
        return false;
    TagLib::MP4::File file(stream, true, AudioProperties::Average);
    const TagLib::MP4::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    if (!properties || properties->isEncrypted() || properties->lengthInMilliseconds() <= 0
        || properties->sampleRate() <= 0 || !plainChannels(properties->channels()))
        return false;
    const auto milliseconds = [&](uint64_t ticks) {
        return static_cast<long long>(ticks * 1000 / fields.mp4Timescale);
    };
    const uint64_t frameTicks = maxAacFrameSamples * fields.mp4Timescale / static_cast<uint64_t>(properties->sampleRate());
    seconds = certainSecond(milliseconds(fields.mp4KeptTicks) - 1, milliseconds(fields.mp4SampleTicks + frameTicks) + 1);
    return seconds >= 0;
}

// TagLib reads the file through its own descriptor, which it closes.
std::unique_ptr<TagLib::FileStream> streamOf(int descriptor)
{
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    auto stream = std::make_unique<TagLib::FileStream>(copy, true);
    if (!stream->isOpen())
        return nullptr;
    return stream;
}

bool probeOpenFile(int descriptor, long &seconds)
{
    unsigned char head[64] = {};
    const ssize_t got = pread(descriptor, head, sizeof head, 0);
    const Kind kind = got > 0 ? sniff(head, static_cast<std::size_t>(got)) : Kind::Other;
    if (kind == Kind::Other)
        return false;
    std::unique_ptr<TagLib::FileStream> stream = streamOf(descriptor);
    if (!stream)
        return false;
    switch (kind) {
    case Kind::Wave:
        return waveSeconds(stream.get(), readLengthFields(descriptor), seconds);
    case Kind::Aiff:
        return aiffSeconds(stream.get(), readLengthFields(descriptor), seconds);
    case Kind::Flac:
        return flacSeconds(stream.get(), descriptor, seconds);
    case Kind::Mpeg:
        return mp3Seconds(stream.get(), seconds);
    case Kind::Vorbis:
        return oggVorbisSeconds(stream.get(), seconds);
    case Kind::Opus:
        return oggOpusSeconds(stream.get(), seconds);
    case Kind::Mp4:
        return m4aSeconds(stream.get(), readLengthFields(descriptor), seconds);
    case Kind::Other:
        break;
    }
    return false;
}

} // namespace

bool probeWithTagLib(const std::string &path, long &seconds)
{
    // O_NONBLOCK: opening a FIFO or a device must not wait; anything but a
    // regular file goes to the converter, which refuses it.
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return false;
    struct stat info = {};
    const bool regular = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    const bool answered = regular && probeOpenFile(descriptor, seconds);
    close(descriptor);
    // Under a second, a header tells too little to be sure the audio
    // decodes at all (a damaged only frame, a sample table past the end of
    // the file): the converter, which decodes, answers those.
    return answered && seconds > 0;
}
