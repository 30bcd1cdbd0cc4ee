#pragma once

#include "common/libav.h"
#include "common/source.h"
#include "common/status.h"
#include "midi/midifile.h"

#include <memory>
#include <string>

struct FluidSynthLibrary;

// Renders a MIDI file with FluidSynth and a General MIDI SoundFont into
// frames of stereo float samples at midiSampleRate, like a decoder: the
// song, then midiReleaseSeconds for the last notes to ring out (faded at
// the very end, so nothing stops with a click). No audio driver is used.
//
// FluidSynth (and the sound libraries it pulls in) is loaded only when a
// MIDI file is converted, so every other run of the tool starts as quickly
// as before.
class MidiRenderer : public Source
{
public:
    MidiRenderer();
    MidiRenderer(const MidiRenderer &) = delete;
    MidiRenderer &operator=(const MidiRenderer &) = delete;
    ~MidiRenderer() override;

    // Reads the file, finds the SoundFont ($MORVANE_SOUNDFONT, else the
    // usual General MIDI SoundFonts of Debian) and loads it.
    Status open(const std::string &path) override;

    // Puts the next frame into frame, or sets finished after the last one.
    Status next(AVFrame *frame, bool &finished) override;

    // A MIDI file that reads is rendered whole.
    Status checkComplete() const override { return Status::success(); }


    // The song's track name and copyright notice.
    void readTags(Tags &tags, Picture &cover) const override;

private:
    void play(const MidiEvent &event);
    void releaseAll();

    std::unique_ptr<FluidSynthLibrary> library_;
    MidiSong song_;
    std::size_t nextEvent_ = 0;
    int64_t rendered_ = 0;
    int64_t total_ = 0;
    bool released_ = false;
};
