#include "midi/midifile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace {

constexpr std::uintmax_t maxFileBytes = 64 * 1024 * 1024;
constexpr uint32_t defaultTempo = 500000; // microseconds per quarter note: 120 beats a minute

Status damaged(const std::string &what)
{
    return Status::failure("the MIDI file is damaged: " + what);
}

// Reads big-endian numbers and variable-length quantities from one chunk,
// never past its end.
class Reader
{
public:
    Reader(const uint8_t *begin, const uint8_t *end) : at_(begin), end_(end) {}

    bool atEnd() const { return at_ >= end_; }
    std::size_t left() const { return static_cast<std::size_t>(end_ - at_); }
    const uint8_t *position() const { return at_; }

    bool byte(uint8_t &value)
    {
        if (atEnd())
            return false;
        value = *at_++;
        return true;
    }

    bool number(int bytes, uint32_t &value)
    {
        if (left() < static_cast<std::size_t>(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | *at_++;
        return true;
    }

    // At most four bytes of seven bits each.
    bool variable(uint32_t &value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t next = 0;
            if (!byte(next))
                return false;
            value = (value << 7) | (next & 0x7F);
            if (!(next & 0x80))
                return true;
        }
        return false;
    }

    bool skip(std::size_t bytes)
    {
        if (left() < bytes)
            return false;
        at_ += bytes;
        return true;
    }

private:
    const uint8_t *at_;
    const uint8_t *end_;
};

// A tempo change: from tick on, microseconds per quarter note.
struct TempoChange
{
    uint64_t tick = 0;
    uint32_t tempo = defaultTempo;
};

// While the tracks are read, an event's sample holds its tick; it becomes
// the sample once every tempo change is known.
struct ParsedTracks
{
    const uint8_t *file = nullptr;
    std::vector<MidiEvent> events;
    std::vector<TempoChange> tempos; // in the order read
    uint64_t lastTick = 0;
    std::string title;
    std::string copyright;
};

int dataBytes(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

Status readMeta(Reader &track, uint64_t tick, bool firstTrack, ParsedTracks &parsed)
{
    uint8_t type = 0;
    uint32_t length = 0;
    if (!track.byte(type) || !track.variable(length) || track.left() < length)
        return damaged("a meta event runs past its track");
    const uint8_t *data = track.position();
    const auto text = [&] { return std::string(reinterpret_cast<const char *>(data), length); };
    if (type == 0x03 && firstTrack && parsed.title.empty())
        parsed.title = text();
    else if (type == 0x02 && parsed.copyright.empty())
        parsed.copyright = text();
    else if (type == 0x51 && length == 3)
        parsed.tempos.push_back({tick, (uint32_t(data[0]) << 16) | (uint32_t(data[1]) << 8) | data[2]});
    track.skip(length);
    return Status::success();
}

Status readTrack(Reader track, bool firstTrack, ParsedTracks &parsed)
{
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    while (!track.atEnd()) {
        uint32_t delta = 0;
        uint8_t status = 0;
        if (!track.variable(delta) || !track.byte(status))
            return damaged("an event is cut short");
        tick += delta;
        parsed.lastTick = std::max(parsed.lastTick, tick);
        if (status == 0xFF) {
            if (Status result = readMeta(track, tick, firstTrack, parsed); !result.ok())
                return result;
            continue;
        }
        MidiEvent event;
        event.sample = static_cast<int64_t>(tick);
        if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!track.variable(length) || track.left() < length)
                return damaged("a system exclusive message runs past its track");
            const uint8_t *data = track.position();
            track.skip(length);
            if (status == 0xF0 && length > 0 && data[length - 1] == 0xF7) // fluidsynth takes it without F0 ... F7
                --length;
            if (status == 0xF7 || length == 0)
                continue; // a continuation or escape: nothing a General MIDI synthesizer needs
            event.message = static_cast<uint32_t>(data - parsed.file);
            event.sysexLength = length;
            parsed.events.push_back(event);
            continue;
        }
        uint8_t first = status;
        if (status < 0x80) { // running status: the byte is the first data byte
            if (runningStatus == 0)
                return damaged("an event has no status");
            status = runningStatus;
        } else {
            if (status >= 0xF0)
                return damaged("an unknown event");
            runningStatus = status;
            if (!track.byte(first))
                return damaged("an event is cut short");
        }
        uint8_t second = 0;
        if (dataBytes(status) == 2 && !track.byte(second))
            return damaged("an event is cut short");
        event.message = status | uint32_t(first & 0x7F) << 8 | uint32_t(second & 0x7F) << 16;
        parsed.events.push_back(event);
    }
    return Status::success();
}

// Turns ticks into seconds through the tempo changes (or the SMPTE rate).
class Clock
{
public:
    // tempos in tick order; of two at one tick, the later one holds.
    Clock(uint16_t division, const std::vector<TempoChange> &tempos) : division_(division)
    {
        Segment segment;
        segments_.reserve(tempos.size());
        for (const TempoChange &change : tempos) {
            segment.seconds += secondsFor(change.tick - segment.tick, segment.tempo);
            segment.tick = change.tick;
            segment.tempo = change.tempo;
            segments_.push_back(segment);
        }
    }

    double seconds(uint64_t tick) const
    {
        if (division_ & 0x8000) { // frames per second, ticks per frame
            const int framesPerSecond = -static_cast<int8_t>(division_ >> 8);
            return static_cast<double>(tick) / (framesPerSecond * (division_ & 0xFF));
        }
        auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                      [](uint64_t value, const Segment &segment) { return value < segment.tick; });
        const Segment segment = after == segments_.begin() ? Segment() : *std::prev(after);
        return segment.seconds + secondsFor(tick - segment.tick, segment.tempo);
    }

private:
    struct Segment
    {
        uint64_t tick = 0;
        double seconds = 0.0;
        uint32_t tempo = defaultTempo;
    };

    double secondsFor(uint64_t ticks, uint32_t tempo) const
    {
        return static_cast<double>(ticks) * tempo / 1e6 / (division_ & 0x7FFF);
    }

    uint16_t division_;
    std::vector<Segment> segments_;
};

// Hours, minutes and seconds, as 25:00:02.
std::string clockTime(double seconds)
{
    const long long whole = std::isfinite(seconds) ? static_cast<long long>(std::min(seconds, 1e15)) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

Status readBytes(const std::string &path, std::vector<uint8_t> &bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return systemFailure("cannot read input \"" + path + "\"", errno);
    file.seekg(0, std::ios::end);
    const auto size = static_cast<std::uintmax_t>(file.tellg());
    if (size > maxFileBytes)
        return Status::failure("the MIDI file is too large");
    file.seekg(0);
    bytes.resize(size);
    if (!file.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(size)))
        return systemFailure("cannot read input \"" + path + "\"", errno);
    return Status::success();
}

} // namespace

bool isMidiFile(const std::string &path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream file(path, std::ios::binary);
    char magic[4] = {};
    return file.read(magic, sizeof magic) && std::memcmp(magic, "MThd", 4) == 0;
}

Status readMidiFile(const std::string &path, MidiSong &song)
{
    std::vector<uint8_t> bytes;
    if (Status status = readBytes(path, bytes); !status.ok())
        return status;
    return readMidiData(std::move(bytes), song);
}

Status readMidiData(std::vector<uint8_t> bytes, MidiSong &song)
{
    if (bytes.size() > maxFileBytes) // system exclusive offsets are 32 bits
        return Status::failure("the MIDI file is too large");
    Reader file(bytes.data(), bytes.data() + bytes.size());
    uint32_t magic = 0;
    uint32_t headerLength = 0;
    uint32_t format = 0;
    uint32_t tracks = 0;
    uint32_t division = 0;
    if (!file.number(4, magic) || !file.number(4, headerLength) || headerLength < 6 || !file.number(2, format)
        || !file.number(2, tracks) || !file.number(2, division) || !file.skip(headerLength - 6))
        return damaged("its header is cut short");
    if (format > 1)
        return Status::failure("MIDI files of format 2 (independent patterns) are not supported");
    if ((division & 0x7FFF) == 0 || ((division & 0x8000) && (division & 0xFF) == 0))
        return damaged("its time division is zero");

    ParsedTracks parsed;
    parsed.file = bytes.data();
    // Every event takes at least two bytes of its track (a delta and a data
    // byte), so this many are never outgrown: the array is not copied as it
    // grows, and the part of it no event uses is never touched.
    parsed.events.reserve(file.left() / 2);
    for (uint32_t index = 0; index < tracks && !file.atEnd();) {
        uint32_t type = 0;
        uint32_t length = 0;
        if (!file.number(4, type) || !file.number(4, length) || file.left() < length)
            return damaged("a track is cut short");
        const uint8_t *data = file.position();
        file.skip(length);
        if (type != 0x4D54726B) // "MTrk"; other chunks are skipped
            continue;
        if (Status status = readTrack(Reader(data, data + length), index == 0, parsed); !status.ok())
            return status;
        ++index;
    }
    if (parsed.events.empty())
        return Status::failure("the MIDI file holds nothing to play");

    const auto byTick = [](const auto &a, const auto &b) { return a.sample < b.sample; };
    std::stable_sort(parsed.tempos.begin(), parsed.tempos.end(),
                     [](const TempoChange &a, const TempoChange &b) { return a.tick < b.tick; });
    const Clock clock(static_cast<uint16_t>(division), parsed.tempos);
    const double seconds = clock.seconds(parsed.lastTick);
    if (!(seconds + midiReleaseSeconds <= midiMaxRenderedSeconds))
        return Status::failure("the MIDI file would render for " + clockTime(seconds + midiReleaseSeconds)
                               + ", longer than the " + clockTime(midiMaxRenderedSeconds)
                               + " the tool renders at most");
    // Each track is in time order already: a file of one track needs no sort.
    if (!std::is_sorted(parsed.events.begin(), parsed.events.end(), byTick))
        std::stable_sort(parsed.events.begin(), parsed.events.end(), byTick);
    for (MidiEvent &event : parsed.events)
        event.sample = std::llround(clock.seconds(static_cast<uint64_t>(event.sample)) * midiSampleRate);

    song.file = std::move(bytes);
    song.events = std::move(parsed.events);
    song.seconds = seconds;
    song.title = std::move(parsed.title);
    song.copyright = std::move(parsed.copyright);
    return Status::success();
}

int64_t midiRenderedSamples(const MidiSong &song)
{
    return std::llround((song.seconds + midiReleaseSeconds) * midiSampleRate);
}

Status probeMidiDuration(const std::string &path, long &seconds)
{
    MidiSong song;
    if (Status status = readMidiFile(path, song); !status.ok())
        return status;
    seconds = static_cast<long>(midiRenderedSamples(song) / midiSampleRate);
    return Status::success();
}
