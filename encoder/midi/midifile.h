#pragma once

#include "common/status.h"

#include <cstdint>
#include <string>
#include <vector>

// A Standard MIDI File (.mid, .midi, .kar), read into one time-ordered list
// of the messages a synthesizer plays.
struct MidiMessage
{
    double seconds = 0.0;
    std::vector<uint8_t> bytes; // a channel message, or a system exclusive one without its F0/F7 framing
    bool systemExclusive = false;
};

struct MidiSong
{
    std::vector<MidiMessage> messages;
    double seconds = 0.0;  // when the last event of any track happens
    std::string title;     // the first track's name
    std::string copyright; // the first copyright notice
};

// Seconds rendered after the song's last event, for the notes to ring out.
constexpr double midiReleaseSeconds = 2.0;
constexpr int midiSampleRate = 44100;

// Whether path is a regular file that starts like a Standard MIDI File.
bool isMidiFile(const std::string &path);

Status readMidiFile(const std::string &path, MidiSong &song);

// Samples the rendered song lasts at midiSampleRate: the song and its
// release tail. The probe and the conversion both go by it.
int64_t midiRenderedSamples(const MidiSong &song);

// The probe of a MIDI file: whole seconds of the rendered song.
Status probeMidiDuration(const std::string &path, long &seconds);
