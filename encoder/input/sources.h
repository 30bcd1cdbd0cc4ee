#pragma once

#include "common/source.h"

#include <memory>
#include <string>

// The source for the file at path, not yet opened: FluidSynth's renderer
// for a MIDI file, libav's decoder for anything else.
std::unique_ptr<Source> sourceFor(const std::string &path);
