#include "input/sources.h"

#include "input/filesource.h"
#include "midi/midifile.h"
#include "midi/midisynth.h"

std::unique_ptr<Source> sourceFor(const std::string &path)
{
    if (isMidiFile(path))
        return std::make_unique<MidiRenderer>();
    return std::make_unique<FileSource>();
}
