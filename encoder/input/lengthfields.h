#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The length fields of the containers whose header states the size of the
// audio: RIFF WAVE, RF64, Wave64 and AIFF/AIFC (and the lengths of an MP4's
// sound track). A writer that cannot seek
// back to its header (a pipe: sox, arecord, ffmpeg, many recorders) leaves a
// placeholder there: 0, all bits set, or a value near 2^31. Such a file is
// complete: its audio runs to the end of the file. A file that states a real
// size and holds less is cut short. Plain C++, so the probe front reads it
// without libav.

// Bytes to read at `offset` in place of what the file holds there.
struct HeaderPatch
{
    uint64_t offset = 0;
    std::vector<unsigned char> bytes;
};

struct LengthFields
{
    enum class Container { Other, Wave, Rf64, Wave64, Aiff, Mp4 };

    Container container = Container::Other;
    bool streamed = false;         // the audio's size is a placeholder
    bool cutShort = false;         // a real size that runs past the end of the file
    uint64_t statedAudioBytes = 0; // the audio's size as stated (0 when streamed)
    uint64_t frameBytes = 0;       // bytes per sample frame (0 when not fixed or not known)
    uint64_t aiffSampleRate = 0;   // AIFF: COMM's rate when it is a whole number of hertz
    unsigned waveFormat = 0;       // WAV: the format code (an extensible one's subformat), 0 if unknown
    // The header leaves the length open: a WAV with more than one "data"
    // chunk, an AIFF with more than one COMM or whose COMM counts other
    // frames than SSND holds, an MP4 with more than one sound track, an
    // mdhd that disagrees with the sample table or an edit list that does
    // more than leave out the encoder's delay and padding. libavformat then
    // plays other audio than the header's first chunk says (the last "data"
    // chunk, the last COMM, all of SSND, the samples within the edit). Also
    // a WAV that libavformat may not open at all: one with a LIST chunk too
    // short for its type, or more chunks than are looked at.
    bool ambiguous = false;
    // MP4 (one sound track): its media time scale, the length of its
    // samples and the least of it that its edit list keeps, in that scale.
    uint64_t mp4Timescale = 0;
    uint64_t mp4SampleTicks = 0;
    uint64_t mp4KeptTicks = 0;
    // The most its samples can play from where its one edit starts (or from
    // the start, without an edit list), 0 when other edits leave it open.
    uint64_t mp4PlayableTicks = 0;
    // For a streamed file: its length fields rewritten with the sizes the
    // file really holds (whole sample frames), for the demuxer to read; and
    // in any WAV, the size of a chunk before or after the audio that runs
    // past the end of the file, cut to what the file holds.
    std::vector<HeaderPatch> patches;
};

// Reads the header of the regular file at path; FIFOs, devices and files of
// other kinds give Container::Other without blocking.
LengthFields readLengthFields(const std::string &path);
// The same for a file already open (it stays open).
LengthFields readLengthFields(int descriptor);
