#include "input/lengthfields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int maxChunks = 64;
constexpr uint64_t max32 = 0xFFFFFFFF;

// The values writers leave in a length field they cannot come back to: 0,
// all bits set (in 32 or 64 bits), INT64_MAX, or a value near 2^31 (sox
// writes 0x7FFFF000 or 0x7F000000, arecord 0x80000000). Only a field whose
// value also runs past the end of the file counts as one.
bool isPlaceholder(uint64_t value)
{
    constexpr uint64_t near = uint64_t(1) << 24;
    constexpr uint64_t two31 = uint64_t(1) << 31;
    constexpr uint64_t two32 = uint64_t(1) << 32;
    return value == 0 || (value >= two31 - near && value <= two31 + near) || (value >= two32 - near && value < two32)
        || value >= (uint64_t(1) << 62);
}

// An open regular file read by offset.
class HeaderReader
{
public:
    HeaderReader(int descriptor, uint64_t size) : descriptor_(descriptor), size_(size) {}

    uint64_t size() const { return size_; }

    bool read(uint64_t offset, void *buffer, std::size_t bytes) const
    {
        auto *out = static_cast<unsigned char *>(buffer);
        while (bytes > 0) {
            const ssize_t got = pread(descriptor_, out, bytes, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += static_cast<uint64_t>(got);
            bytes -= static_cast<std::size_t>(got);
        }
        return true;
    }

    bool has(uint64_t offset, const char *text, std::size_t bytes) const
    {
        char found[16] = {};
        return bytes <= sizeof found && read(offset, found, bytes) && std::memcmp(found, text, bytes) == 0;
    }

    // Unsigned integers of `bytes` bytes, little- or big-endian.
    bool number(uint64_t offset, int bytes, bool bigEndian, uint64_t &value) const
    {
        unsigned char raw[8] = {};
        if (!read(offset, raw, static_cast<std::size_t>(bytes)))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= uint64_t(raw[bigEndian ? bytes - 1 - i : i]) << (8 * i);
        return true;
    }

private:
    int descriptor_;
    uint64_t size_;
};

void addPatch(LengthFields &fields, uint64_t offset, int bytes, bool bigEndian, uint64_t value)
{
    HeaderPatch patch;
    patch.offset = offset;
    for (int i = 0; i < bytes; ++i)
        patch.bytes.push_back(static_cast<unsigned char>(value >> (8 * (bigEndian ? bytes - 1 - i : i))));
    fields.patches.push_back(patch);
}

// A WAV chunk other than the audio that states more bytes than the file
// holds after its header gets the size it really has. libavformat allocates
// and clears some chunks (LIST INFO entries, bext's history) at their stated
// size before reading them: a damaged or hostile size field would cost
// gigabytes for a file of a few bytes. A LIST chunk keeps room for its
// type, since libavformat refuses a shorter one (the type read at the end of
// the file is none).
bool isListChunk(const HeaderReader &file, uint64_t position)
{
    return file.has(position, "LIST", 4) || file.has(position, "list", 4);
}

void fitChunk(const HeaderReader &file, LengthFields &fields, uint64_t position, uint64_t size)
{
    const uint64_t data = position + 8;
    if (data > file.size() || size <= file.size() - data)
        return;
    const uint64_t least = isListChunk(file, position) ? 4 : 0;
    addPatch(fields, position + 4, 4, false, std::max(file.size() - data, least));
}

// Classifies the audio's stated size (`field` is the raw length field).
// For a placeholder, `real` becomes what the file holds from audioOffset on
// in whole sample frames (when their size is known); a file that holds more than
// the field can state gets maxBytes (for RIFF 0xFFFFFFFF, which libavformat
// reads as "to the end").
bool isStreamed(const HeaderReader &file, LengthFields &fields, uint64_t field, uint64_t audioOffset,
                uint64_t statedBytes, uint64_t maxBytes, uint64_t &real)
{
    const uint64_t held = file.size() > audioOffset ? file.size() - audioOffset : 0;
    if (isPlaceholder(field) && (statedBytes > held || (statedBytes == 0 && held > 0))) {
        // A chunk before it (a first "data" or SSND chunk) stated a size:
        // the audio played is this one's, whose size is not known.
        fields.streamed = true;
        fields.statedAudioBytes = 0;
        fields.cutShort = false;
        const uint64_t frameBytes = fields.frameBytes;
        real = held > maxBytes ? maxBytes : frameBytes > 0 ? held - held % frameBytes : held;
        return true;
    }
    fields.statedAudioBytes = statedBytes;
    fields.cutShort = statedBytes > held;
    return false;
}

// The format code of a "fmt " chunk; for WAVE_FORMAT_EXTENSIBLE the code in
// its subformat GUID, when the GUID is one of the standard family (else 0).
unsigned waveFormat(const HeaderReader &file, uint64_t data, uint64_t size)
{
    constexpr uint64_t extensible = 0xFFFE;
    constexpr char guidTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71";
    uint64_t format = 0;
    if (!file.number(data, 2, false, format))
        return 0;
    if (format != extensible)
        return static_cast<unsigned>(format);
    // libavformat reads the subformat only when cbSize covers it, and takes
    // the sample size from the valid bits when they are given: rounded up to
    // whole bytes for integers, as it stands for floats.
    constexpr uint64_t ieeeFloat = 3;
    uint64_t extraSize = 0;
    uint64_t bits = 0;
    uint64_t validBits = 0;
    if (size < 40 || !file.number(data + 16, 2, false, extraSize) || extraSize < 22
        || !file.number(data + 14, 2, false, bits) || !file.number(data + 18, 2, false, validBits)
        || !file.number(data + 24, 2, false, format) || !file.has(data + 26, guidTail, 14))
        return 0;
    const bool sizeAgrees = validBits == 0
                            || (format == ieeeFloat ? validBits == bits : (validBits + 7) / 8 == (bits + 7) / 8);
    return sizeAgrees ? static_cast<unsigned>(format) : 0;
}

// RIFF WAVE and RF64: "RIFF"/"RF64" <size> "WAVE", then chunks <id> <size>
// padded to even sizes; RF64 keeps the 64-bit sizes in a "ds64" chunk.
void readWave(const HeaderReader &file, LengthFields &fields)
{
    const bool rf64 = fields.container == LengthFields::Container::Rf64;
    uint64_t ds64 = 0;
    uint64_t position = 12;
    bool formatRead = false;
    int dataChunks = 0;
    for (int chunk = 0; chunk < maxChunks; ++chunk) {
        uint64_t size = 0;
        if (!file.number(position + 4, 4, false, size))
            return;
        const uint64_t data = position + 8;
        if (file.has(position, "fmt ", 4) && !formatRead) { // libavformat reads the first alone
            formatRead = true;
            file.number(data + 12, 2, false, fields.frameBytes); // the block align
            fields.waveFormat = waveFormat(file, data, size);
        } else if (file.has(position, "ds64", 4)) {
            ds64 = data;
        } else if (isListChunk(file, position) && size < 4) {
            fields.ambiguous = true; // too short for its type: libavformat refuses the file
            return;
        } else if (file.has(position, "data", 4)) {
            uint64_t riffSize = 0;
            uint64_t real = 0;
            if (!rf64) {
                // libavformat reads the chunks on to the end and plays the
                // last "data" chunk; a streamed one ends the chunks.
                if (++dataChunks > 1) {
                    fields.ambiguous = true;
                    if (isStreamed(file, fields, size, data, size, max32, real))
                        return;
                } else if (isStreamed(file, fields, size, data, size, max32, real)) {
                    addPatch(fields, position + 4, 4, false, real);
                    if (file.number(4, 4, false, riffSize) && isPlaceholder(riffSize))
                        addPatch(fields, 4, 4, false, std::min(data - 8 + real, max32));
                    return;
                }
                position = data + size + (size & 1);
                continue;
            }
            uint64_t dataSize = 0;
            uint64_t sampleCount = 0;
            if (ds64 == 0 || !file.number(ds64, 8, false, riffSize) || !file.number(ds64 + 8, 8, false, dataSize)
                || !file.number(ds64 + 16, 8, false, sampleCount))
                return;
            if (isStreamed(file, fields, dataSize, data, dataSize, UINT64_MAX, real)) {
                addPatch(fields, ds64 + 8, 8, false, real);
                if (isPlaceholder(riffSize))
                    addPatch(fields, ds64, 8, false, data - 8 + real);
                if (sampleCount != 0 && isPlaceholder(sampleCount))
                    addPatch(fields, ds64 + 16, 8, false, 0); // counted from the size instead
            }
            return;
        }
        fitChunk(file, fields, position, size);
        position = data + size + (size & 1);
    }
    // libavformat reads every chunk to the end of the file; those not looked
    // at here could be any.
    fields.ambiguous = true;
}

// Wave64: chunks named by GUIDs whose first four bytes are the RIFF names,
// with 64-bit sizes that count their 24-byte header, padded to 8 bytes.
constexpr char wave64Guid[] = "\xf3\xac\xd3\x11\x8c\xd1\x00\xc0\x4f\x8e\xdb\x8a";

bool isWave64Chunk(const HeaderReader &file, uint64_t position, const char *name)
{
    return file.has(position, name, 4) && file.has(position + 4, wave64Guid, 12);
}

void readWave64(const HeaderReader &file, LengthFields &fields)
{
    constexpr uint64_t header = 24;
    uint64_t position = 40;
    for (int chunk = 0; chunk < maxChunks; ++chunk) {
        uint64_t size = 0;
        if (!file.number(position + 16, 8, false, size))
            return;
        const uint64_t data = position + header;
        if (isWave64Chunk(file, position, "fmt ")) {
            file.number(data + 12, 2, false, fields.frameBytes); // the block align
        } else if (isWave64Chunk(file, position, "data")) {
            const uint64_t stated = size > header ? size - header : 0;
            uint64_t real = 0;
            uint64_t riffSize = 0;
            if (isStreamed(file, fields, stated, data, stated, UINT64_MAX - header, real)) {
                addPatch(fields, position + 16, 8, false, real + header);
                if (file.number(16, 8, false, riffSize) && isPlaceholder(riffSize))
                    addPatch(fields, 16, 8, false, data + real);
            }
            return;
        }
        if (size < header)
            return;
        position += (size + 7) & ~uint64_t(7);
    }
}

// Bytes per sample of an AIFF/AIFC compression type whose samples all have
// the same size; 0 for the others.
uint64_t aiffSampleBytes(const char *compression, uint64_t bits)
{
    for (const char *pcm : {"NONE", "twos", "sowt", "raw "})
        if (std::memcmp(compression, pcm, 4) == 0)
            return (bits + 7) / 8;
    for (const char *name : {"fl32", "FL32", "in32"})
        if (std::memcmp(compression, name, 4) == 0)
            return 4;
    for (const char *name : {"fl64", "FL64"})
        if (std::memcmp(compression, name, 4) == 0)
            return 8;
    for (const char *name : {"alaw", "ALAW", "ulaw", "ULAW"})
        if (std::memcmp(compression, name, 4) == 0)
            return 1;
    return std::memcmp(compression, "in24", 4) == 0 ? 3 : 0;
}

// The 80-bit extended float at offset (AIFF's sample rate) when it holds a
// whole number that fits in 32 bits, else 0.
uint64_t wholeExtendedValue(const HeaderReader &file, uint64_t offset)
{
    uint64_t exponent = 0;
    uint64_t mantissa = 0;
    if (!file.number(offset, 2, true, exponent) || !file.number(offset + 2, 8, true, mantissa) || (exponent & 0x8000))
        return 0;
    // value = mantissa * 2^(exponent - 16383 - 63)
    const int64_t shift = 16383 + 63 - static_cast<int64_t>(exponent);
    if (shift < 32 || shift > 63 || (mantissa & ((uint64_t(1) << shift) - 1)) != 0)
        return 0;
    return mantissa >> shift;
}

// AIFF/AIFC: "FORM" <size> "AIFF"/"AIFC", then big-endian chunks padded to
// even sizes. COMM holds the number of sample frames; SSND the samples,
// after an offset and a block size. libavformat takes the last COMM before
// SSND, or the first after it, and plays all of SSND whatever COMM counts.
void readAiff(const HeaderReader &file, LengthFields &fields, bool aifc)
{
    uint64_t framesField = 0; // offset of COMM's frame count
    uint64_t frames = 0;
    int commChunks = 0;
    bool sound = false;
    uint64_t position = 12;
    for (int chunk = 0; chunk < maxChunks; ++chunk) {
        uint64_t size = 0;
        if (!file.number(position + 4, 4, true, size))
            break;
        const uint64_t data = position + 8;
        if (file.has(position, "COMM", 4)) {
            uint64_t channels = 0;
            uint64_t bits = 0;
            char compression[4] = {'N', 'O', 'N', 'E'};
            fields.ambiguous = fields.ambiguous || ++commChunks > 1;
            if (file.number(data, 2, true, channels) && file.number(data + 6, 2, true, bits)
                && (!aifc || file.read(data + 18, compression, 4))) {
                fields.frameBytes = channels * aiffSampleBytes(compression, bits);
                framesField = data + 2;
                file.number(framesField, 4, true, frames);
                fields.aiffSampleRate = wholeExtendedValue(file, data + 8);
            }
            if (sound)
                break;
        } else if (file.has(position, "SSND", 4)) {
            uint64_t offset = 0;
            if (!file.number(data, 4, true, offset))
                return;
            fields.ambiguous = fields.ambiguous || sound;
            sound = true;
            const uint64_t audio = data + 8 + offset;
            const uint64_t stated = size >= 8 + offset ? size - 8 - offset : 0;
            uint64_t real = 0;
            uint64_t formSize = 0;
            if (isStreamed(file, fields, size, audio, stated, max32 - 8 - offset, real)) {
                addPatch(fields, position + 4, 4, true, real + 8 + offset);
                if (file.number(4, 4, true, formSize) && isPlaceholder(formSize))
                    addPatch(fields, 4, 4, true, std::min(audio + real - 8, max32));
                const uint64_t frameBytes = fields.frameBytes;
                if (frameBytes > 0 && file.number(framesField, 4, true, frames)
                    && (frames == 0 || frames * frameBytes > real))
                    addPatch(fields, framesField, 4, true, real / frameBytes);
                return;
            }
        }
        position = data + size + (size & 1);
    }
    if (sound && fields.frameBytes > 0 && fields.statedAudioBytes / fields.frameBytes != frames)
        fields.ambiguous = true;
}

// MP4 boxes: a 32-bit size (1: a 64-bit size follows the name, 0: to the
// end of the enclosing box) and a four-letter name.
struct Box
{
    uint64_t payload = 0;
    uint64_t end = 0;
};

// The first box named `name` among the boxes from `start` to `end`.
bool findBox(const HeaderReader &file, uint64_t start, uint64_t end, const char *name, Box &box)
{
    constexpr int maxBoxes = 4096;
    for (int count = 0; count < maxBoxes && start + 8 <= end; ++count) {
        uint64_t size = 0;
        if (!file.number(start, 4, true, size))
            return false;
        const uint64_t header = size == 1 ? 16 : 8;
        if (size == 1 && !file.number(start + 8, 8, true, size))
            return false;
        if (size == 0)
            size = end - start;
        if (size < header || size > end - start)
            return false;
        if (file.has(start + 4, name, 4)) {
            box.payload = start + header;
            box.end = start + size;
            return true;
        }
        start += size;
    }
    return false;
}

bool findPath(const HeaderReader &file, Box within, std::initializer_list<const char *> path, Box &box)
{
    for (const char *name : path) {
        if (!findBox(file, within.payload, within.end, name, box))
            return false;
        within = box;
    }
    return true;
}

// Version 0 or 1 fields of a full box: 32 or 64 bits.
bool versioned(const HeaderReader &file, uint64_t offset, bool wide, uint64_t &value)
{
    return file.number(offset, wide ? 8 : 4, true, value);
}

// One track: its handler, media time scale and duration (mdhd), the length
// of its samples (stts) and what its edit list keeps, in the media scale.
struct Mp4Track
{
    bool sound = false;
    bool understood = false; // every box read, and the edit list no more than a cut of delay and padding
    uint64_t timescale = 0;
    uint64_t duration = 0;
    uint64_t sampleTicks = 0;
    uint64_t keptTicks = 0;
    uint64_t playableTicks = 0;
};

Mp4Track readTrack(const HeaderReader &file, const Box &trak, uint64_t movieTimescale)
{
    constexpr uint64_t maxSttsEntries = 1 << 20;
    constexpr uint64_t unitRate = 0x10000;
    Mp4Track track;
    Box box;
    char handler[4] = {};
    if (!findPath(file, trak, {"mdia", "hdlr"}, box) || !file.read(box.payload + 8, handler, 4))
        return track;
    track.sound = std::memcmp(handler, "soun", 4) == 0;
    uint64_t version = 0;
    if (!findPath(file, trak, {"mdia", "mdhd"}, box) || !file.number(box.payload, 1, true, version))
        return track;
    const bool wideMdhd = version == 1;
    if (!file.number(box.payload + (wideMdhd ? 20 : 12), 4, true, track.timescale)
        || !versioned(file, box.payload + (wideMdhd ? 24 : 16), wideMdhd, track.duration) || track.timescale == 0)
        return track;
    uint64_t entries = 0;
    if (!findPath(file, trak, {"mdia", "minf", "stbl", "stts"}, box) || !file.number(box.payload + 4, 4, true, entries)
        || entries > maxSttsEntries || box.payload + 8 + entries * 8 > box.end)
        return track;
    std::vector<unsigned char> table(entries * 8);
    if (entries > 0 && !file.read(box.payload + 8, table.data(), table.size()))
        return track;
    for (uint64_t i = 0; i < entries; ++i) {
        const unsigned char *entry = &table[i * 8];
        const uint64_t count = uint64_t(entry[0]) << 24 | uint64_t(entry[1]) << 16 | uint64_t(entry[2]) << 8 | entry[3];
        const uint64_t delta = uint64_t(entry[4]) << 24 | uint64_t(entry[5]) << 16 | uint64_t(entry[6]) << 8 | entry[7];
        track.sampleTicks += count * delta;
    }
    track.keptTicks = track.sampleTicks;
    if (!findPath(file, trak, {"edts", "elst"}, box)) {
        track.playableTicks = track.sampleTicks;
        track.understood = true;
        return track;
    }
    // One edit at the normal rate that starts at or after the first sample
    // and ends within the samples, leaving out at most a fifth of a second.
    uint64_t edits = 0;
    uint64_t segment = 0;
    uint64_t start = 0;
    uint64_t rate = 0;
    if (!file.number(box.payload, 1, true, version) || !file.number(box.payload + 4, 4, true, edits) || edits != 1
        || movieTimescale == 0)
        return track;
    const bool wideElst = version == 1;
    const uint64_t entry = box.payload + 8;
    if (!versioned(file, entry, wideElst, segment) || !versioned(file, entry + (wideElst ? 8 : 4), wideElst, start)
        || !file.number(entry + (wideElst ? 16 : 8), 4, true, rate))
        return track;
    const uint64_t negative = uint64_t(1) << (wideElst ? 63 : 31);
    if (rate == unitRate && (start & negative) == 0)
        track.playableTicks = start < track.sampleTicks ? track.sampleTicks - start : 0;
    const auto kept = static_cast<uint64_t>(static_cast<unsigned __int128>(segment) * track.timescale / movieTimescale);
    if (rate != unitRate || (start & negative) != 0 || start + kept > track.sampleTicks + 1
        || track.sampleTicks - kept > track.timescale / 5)
        return track;
    track.keptTicks = kept;
    track.understood = true;
    return track;
}

// The sound track of an MP4: ambiguous unless there is exactly one, its
// boxes read, its mdhd agrees with its samples and its edit list only cuts
// the encoder's delay and padding.
void readMp4(const HeaderReader &file, LengthFields &fields)
{
    Box moov;
    Box mvhd;
    uint64_t version = 0;
    uint64_t movieTimescale = 0;
    if (!findBox(file, 0, file.size(), "moov", moov) || !findBox(file, moov.payload, moov.end, "mvhd", mvhd)
        || !file.number(mvhd.payload, 1, true, version)
        || !file.number(mvhd.payload + (version == 1 ? 20 : 12), 4, true, movieTimescale)) {
        fields.ambiguous = true;
        return;
    }
    int soundTracks = 0;
    Mp4Track sound;
    Box trak;
    for (uint64_t position = moov.payload; findBox(file, position, moov.end, "trak", trak); position = trak.end) {
        const Mp4Track track = readTrack(file, trak, movieTimescale);
        if (track.sound && ++soundTracks == 1)
            sound = track;
    }
    fields.ambiguous = soundTracks != 1 || !sound.understood || sound.duration != sound.sampleTicks
        || sound.sampleTicks == 0;
    fields.mp4Timescale = sound.timescale;
    fields.mp4SampleTicks = sound.sampleTicks;
    fields.mp4KeptTicks = sound.keptTicks;
    fields.mp4PlayableTicks = soundTracks == 1 ? sound.playableTicks : 0;
}

} // namespace

LengthFields readLengthFields(int descriptor)
{
    LengthFields fields;
    struct stat info = {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return fields;
    const HeaderReader file(descriptor, static_cast<uint64_t>(info.st_size));
    if ((file.has(0, "RIFF", 4) || file.has(0, "RF64", 4)) && file.has(8, "WAVE", 4)) {
        fields.container = file.has(0, "RF64", 4) ? LengthFields::Container::Rf64 : LengthFields::Container::Wave;
        readWave(file, fields);
    } else if (file.has(0, "riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb\x04\xc1\x00\x00", 16)
               && isWave64Chunk(file, 24, "wave")) {
        fields.container = LengthFields::Container::Wave64;
        readWave64(file, fields);
    } else if (file.has(0, "FORM", 4) && (file.has(8, "AIFF", 4) || file.has(8, "AIFC", 4))) {
        fields.container = LengthFields::Container::Aiff;
        readAiff(file, fields, file.has(8, "AIFC", 4));
    } else if (file.has(4, "ftyp", 4)) {
        fields.container = LengthFields::Container::Mp4;
        readMp4(file, fields);
    }
    return fields;
}

LengthFields readLengthFields(const std::string &path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return LengthFields();
    const LengthFields fields = readLengthFields(descriptor);
    close(descriptor);
    return fields;
}
