#pragma once

#include "common/notes.h"
#include "common/status.h"

#include <string>

struct AVFrame;
struct Picture;
struct Tags;

// Where a conversion's audio comes from, frame by frame, like a decoder: a
// file decoded by libav (input/filesource.h) or a MIDI file rendered by
// FluidSynth (midi/midisynth.h).
class Source
{
public:
    virtual ~Source() = default;

    virtual Status open(const std::string &path) = 0;

    // Puts the next frame into frame, or sets finished at the end (the
    // frame is then left empty).
    virtual Status next(AVFrame *frame, bool &finished) = 0;

    // After the last frame: whether what was read is the whole input.
    virtual Status checkComplete() const = 0;

    // The tags and the front cover the MP3 carries over (fields left empty
    // when the input has none).
    virtual void readTags(Tags &tags, Picture &cover) const = 0;

    // After the last frame: what the user should know about the audio read
    // (damage repaired or skipped), printed once the MP3 is in place.
    virtual Notes notes() const { return {}; }
};
