#include "midi/midisynth.h"

#include "common/averror.h"
#include "common/interruption.h"
#include "tags/tags.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

// FluidSynth's functions, looked up in the library loaded at run time, and
// the settings and synthesizer made with them (freed in reverse order).
struct FluidSynthLibrary
{
    ~FluidSynthLibrary()
    {
        if (synth)
            delete_synth(synth);
        if (settings)
            delete_settings(settings);
        if (handle)
            dlclose(handle);
    }

    void *handle = nullptr;
    fluid_settings_t *settings = nullptr;
    fluid_synth_t *synth = nullptr;

    decltype(&::fluid_set_log_function) set_log_function = nullptr;
    decltype(&::new_fluid_settings) new_settings = nullptr;
    decltype(&::delete_fluid_settings) delete_settings = nullptr;
    decltype(&::fluid_settings_setnum) settings_setnum = nullptr;
    decltype(&::fluid_settings_setint) settings_setint = nullptr;
    decltype(&::new_fluid_synth) new_synth = nullptr;
    decltype(&::delete_fluid_synth) delete_synth = nullptr;
    decltype(&::fluid_synth_sfload) sfload = nullptr;
    decltype(&::fluid_synth_write_float) write_float = nullptr;
    decltype(&::fluid_synth_noteon) noteon = nullptr;
    decltype(&::fluid_synth_noteoff) noteoff = nullptr;
    decltype(&::fluid_synth_cc) cc = nullptr;
    decltype(&::fluid_synth_program_change) program_change = nullptr;
    decltype(&::fluid_synth_pitch_bend) pitch_bend = nullptr;
    decltype(&::fluid_synth_channel_pressure) channel_pressure = nullptr;
    decltype(&::fluid_synth_key_pressure) key_pressure = nullptr;
    decltype(&::fluid_synth_sysex) sysex = nullptr;
    decltype(&::fluid_synth_all_notes_off) all_notes_off = nullptr;
};

namespace {

constexpr int framesPerChunk = 1024;
constexpr double fadeSeconds = 0.5;
constexpr int midiChannels = 16;

// The General MIDI SoundFonts Debian's packages install, the
// alternatives-managed default first.
constexpr const char *soundFontCandidates[] = {
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf3/MuseScore_General.sf3"};

int64_t sampleAt(double seconds)
{
    return static_cast<int64_t>(std::llround(seconds * midiSampleRate));
}

bool isRegularFile(const std::string &path)
{
    struct stat info = {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Status findSoundFont(std::string &path)
{
    if (const char *chosen = std::getenv("MORVANE_SOUNDFONT"); chosen && *chosen) {
        path = chosen;
        return isRegularFile(path) ? Status::success()
                                   : Status::failure("no SoundFont for MIDI files: \"" + path + "\" does not exist");
    }
    for (const char *candidate : soundFontCandidates) {
        if (isRegularFile(candidate)) {
            path = candidate;
            return Status::success();
        }
    }
    return Status::failure("no SoundFont for MIDI files: install a General MIDI SoundFont such as timgm6mb-soundfont");
}

template<typename Function>
bool resolve(void *handle, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

Status loadLibrary(FluidSynthLibrary &library)
{
    library.handle = dlopen(MORVANE_FLUIDSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library.handle)
        return Status::failure("cannot render MIDI files: FluidSynth (" MORVANE_FLUIDSYNTH_LIBRARY ") is missing");
    FluidSynthLibrary &l = library;
    void *h = l.handle;
    const bool complete = resolve(h, "fluid_set_log_function", l.set_log_function)
        && resolve(h, "new_fluid_settings", l.new_settings) && resolve(h, "delete_fluid_settings", l.delete_settings)
        && resolve(h, "fluid_settings_setnum", l.settings_setnum)
        && resolve(h, "fluid_settings_setint", l.settings_setint) && resolve(h, "new_fluid_synth", l.new_synth)
        && resolve(h, "delete_fluid_synth", l.delete_synth) && resolve(h, "fluid_synth_sfload", l.sfload)
        && resolve(h, "fluid_synth_write_float", l.write_float) && resolve(h, "fluid_synth_noteon", l.noteon)
        && resolve(h, "fluid_synth_noteoff", l.noteoff) && resolve(h, "fluid_synth_cc", l.cc)
        && resolve(h, "fluid_synth_program_change", l.program_change)
        && resolve(h, "fluid_synth_pitch_bend", l.pitch_bend)
        && resolve(h, "fluid_synth_channel_pressure", l.channel_pressure)
        && resolve(h, "fluid_synth_key_pressure", l.key_pressure) && resolve(h, "fluid_synth_sysex", l.sysex)
        && resolve(h, "fluid_synth_all_notes_off", l.all_notes_off);
    if (!complete)
        return Status::failure("cannot render MIDI files: FluidSynth lacks a function the tool uses");
    // FluidSynth reports on standard error, which belongs to the tool's own lines.
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        l.set_log_function(level, nullptr, nullptr);
    return Status::success();
}

} // namespace

MidiRenderer::MidiRenderer() = default;
MidiRenderer::~MidiRenderer() = default;

Status MidiRenderer::open(const std::string &path)
{
    if (Status status = readMidiFile(path, song_); !status.ok())
        return status;
    total_ = midiRenderedSamples(song_);
    std::string soundFont;
    if (Status status = findSoundFont(soundFont); !status.ok())
        return status;

    library_ = std::make_unique<FluidSynthLibrary>();
    FluidSynthLibrary &l = *library_;
    if (Status status = loadLibrary(l); !status.ok())
        return status;
    l.settings = l.new_settings();
    if (!l.settings)
        return Status::failure("cannot set up FluidSynth");
    l.settings_setnum(l.settings, "synth.sample-rate", midiSampleRate);
    l.settings_setint(l.settings, "synth.threadsafe-api", 0); // one thread calls it
    l.settings_setint(l.settings, "synth.lock-memory", 0);
    l.synth = l.new_synth(l.settings);
    if (!l.synth)
        return Status::failure("cannot set up FluidSynth");
    if (l.sfload(l.synth, soundFont.c_str(), 1) == FLUID_FAILED)
        return Status::failure("cannot load the SoundFont \"" + soundFont + "\"");
    return Status::success();
}

void MidiRenderer::readTags(Tags &tags, Picture &) const
{
    tags.title = song_.title;
    tags.copyright = song_.copyright;
}

void MidiRenderer::play(const MidiEvent &event)
{
    FluidSynthLibrary &l = *library_;
    if (event.systemExclusive()) {
        l.sysex(l.synth, reinterpret_cast<const char *>(song_.sysex(event)), static_cast<int>(event.sysexLength),
                nullptr, nullptr, nullptr, 0);
        return;
    }
    const int channel = event.status() & 0x0F;
    const int first = event.first();
    const int second = event.second();
    switch (event.status() & 0xF0) {
    case 0x80:
        l.noteoff(l.synth, channel, first);
        break;
    case 0x90:
        if (second == 0)
            l.noteoff(l.synth, channel, first);
        else
            l.noteon(l.synth, channel, first, second);
        break;
    case 0xA0:
        l.key_pressure(l.synth, channel, first, second);
        break;
    case 0xB0:
        l.cc(l.synth, channel, first, second);
        break;
    case 0xC0:
        l.program_change(l.synth, channel, first);
        break;
    case 0xD0:
        l.channel_pressure(l.synth, channel, first);
        break;
    case 0xE0:
        l.pitch_bend(l.synth, channel, first | (second << 7));
        break;
    default:
        break;
    }
}

// At the song's end, notes still held (a missing note-off, the sustain
// pedal down) are released so that they ring out instead of sounding on.
void MidiRenderer::releaseAll()
{
    FluidSynthLibrary &l = *library_;
    for (int channel = 0; channel < midiChannels; ++channel)
        l.cc(l.synth, channel, 64, 0);
    l.all_notes_off(l.synth, -1);
    released_ = true;
}

Status MidiRenderer::next(AVFrame *frame, bool &finished)
{
    if (interruption::requestedBy())
        return interruption::stopped();
    finished = rendered_ >= total_;
    if (finished)
        return Status::success();
    const int samples = static_cast<int>(std::min<int64_t>(framesPerChunk, total_ - rendered_));
    frame->format = AV_SAMPLE_FMT_FLT;
    frame->sample_rate = midiSampleRate;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, 2);
    const int error = av_frame_get_buffer(frame, 0);
    if (error < 0)
        return avFailure("cannot allocate sample buffers", error);
    auto *out = reinterpret_cast<float *>(frame->data[0]);

    // Render up to each message's time, then play it.
    const int64_t songEnd = sampleAt(song_.seconds);
    int done = 0;
    while (done < samples) {
        const int64_t now = rendered_ + done;
        while (nextEvent_ < song_.events.size() && song_.events[nextEvent_].sample <= now)
            play(song_.events[nextEvent_++]);
        if (!released_ && now >= songEnd)
            releaseAll();
        int64_t until = rendered_ + samples;
        if (nextEvent_ < song_.events.size())
            until = std::min(until, song_.events[nextEvent_].sample);
        if (!released_)
            until = std::min(until, songEnd);
        const int length = static_cast<int>(std::max<int64_t>(until - now, 1));
        FluidSynthLibrary &l = *library_;
        if (l.write_float(l.synth, length, out, 2 * done, 2, out, 2 * done + 1, 2) != FLUID_OK)
            return Status::failure("FluidSynth failed to render the MIDI file");
        done += length;
    }

    // A linear fade over the tail's last half second.
    const int64_t fadeStart = total_ - static_cast<int64_t>(fadeSeconds * midiSampleRate);
    for (int i = 0; i < samples; ++i) {
        const int64_t position = rendered_ + i;
        if (position > fadeStart) {
            const float gain = static_cast<float>(total_ - position) / static_cast<float>(total_ - fadeStart);
            out[2 * i] *= gain;
            out[2 * i + 1] *= gain;
        }
    }
    rendered_ += samples;
    return Status::success();
}
