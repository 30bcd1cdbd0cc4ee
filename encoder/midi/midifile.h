#pragma once

#include "common/status.h"

#include <cstdint>
#include <string>
#include <vector>

// A Standard MIDI File (.mid, .midi, .kar), read into one time-ordered list
// of the messages a synthesizer plays.
//
// A song keeps the file's bytes and one flat array of 16-byte events, so a
// file takes a small multiple of its size however many notes it holds: a
// channel message is packed into its event, a system exclusive message
// points into the file's bytes.
struct MidiEvent
{
    int64_t sample = 0;       // when it plays, at midiSampleRate
    uint32_t message = 0;     // a channel message: status | first << 8 | second << 16; system exclusive: its offset in the file
    uint32_t sysexLength = 0; // the system exclusive message's length without its F0/F7 framing; 0 for a channel message

    bool systemExclusive() const { return sysexLength != 0; }
    uint8_t status() const { return static_cast<uint8_t>(message); }
    uint8_t first() const { return static_cast<uint8_t>(message >> 8); }
    uint8_t second() const { return static_cast<uint8_t>(message >> 16); }
};

struct MidiSong
{
    std::vector<uint8_t> file;     // the file's bytes
    std::vector<MidiEvent> events; // in time order
    double seconds = 0.0;          // when the last event of any track happens
    std::string title;             // the first track's name
    std::string copyright;         // the first copyright notice

    const uint8_t *sysex(const MidiEvent &event) const { return file.data() + event.message; }
};

// Seconds rendered after the song's last event, for the notes to ring out.
constexpr double midiReleaseSeconds = 2.0;
constexpr int midiSampleRate = 44100;
// The longest rendering the tool makes of a MIDI file, release tail included.
constexpr double midiMaxRenderedSeconds = 24 * 3600.0;

// Whether path is a regular file that starts like a Standard MIDI File.
bool isMidiFile(const std::string &path);

Status readMidiFile(const std::string &path, MidiSong &song);
// The same from the file's bytes, which the song keeps.
Status readMidiData(std::vector<uint8_t> file, MidiSong &song);

// Samples the rendered song lasts at midiSampleRate: the song and its
// release tail. The probe and the conversion both go by it.
int64_t midiRenderedSamples(const MidiSong &song);

// The probe of a MIDI file: whole seconds of the rendered song.
Status probeMidiDuration(const std::string &path, long &seconds);
