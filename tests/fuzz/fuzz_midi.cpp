// The MIDI reader on any bytes: a song it reads is in time order, within
// the rendering limit, and its system exclusive messages lie in the file.
#include "fuzzinput.h"
#include "midi/midifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    MidiSong song;
    if (!readMidiData(std::vector<uint8_t>(data, data + size), song).ok())
        return 0;
    FUZZ_CHECK(!song.events.empty() && song.file.size() == size);
    FUZZ_CHECK(song.seconds >= 0 && song.seconds + midiReleaseSeconds <= midiMaxRenderedSeconds);
    const int64_t end = midiRenderedSamples(song);
    int64_t last = 0;
    for (const MidiEvent &event : song.events) {
        FUZZ_CHECK(event.sample >= last && event.sample <= end);
        last = event.sample;
        if (event.systemExclusive())
            FUZZ_CHECK(uint64_t(event.message) + event.sysexLength <= size);
        else
            FUZZ_CHECK(event.status() >= 0x80 && event.status() < 0xF0 && event.first() < 0x80
                       && event.second() < 0x80);
    }
    return 0;
}
