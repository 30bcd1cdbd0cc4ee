#pragma once

#include <QString>
#include <QStringList>

// Audio made at test time with the stock ffmpeg program (never our own tool),
// so the repository carries no audio files.
namespace fixtures {

// The stock ffmpeg program: /usr/bin/ffmpeg, or $MORVANE_STOCK_FFMPEG.
QString stockFfmpeg();

struct Tone
{
    double seconds = 2.0;
    int sampleRate = 44100;
    int channels = 2;
    double frequency = 1000.0;
    // Extra output options for the stock program, e.g. {"-c:a", "pcm_s24le"}
    // or {"-metadata", "title=Song"}; the container follows from the suffix.
    QStringList outputOptions;
};

// Writes a sine tone to path (format from the suffix, or from outputOptions).
// Returns false, with the program's error text in *error, when it failed.
bool makeTone(const QString &path, const Tone &tone = Tone(), QString *error = nullptr);

// Runs the stock program with the given arguments (after "-v error -y").
bool runStockFfmpeg(const QStringList &arguments, QString *error = nullptr);

// Duration in seconds of a file's first audio stream as the stock ffmpeg
// decodes it (every sample counted, encoder delay and padding trimmed, not
// the container's estimate); a negative value on failure.
double decodedDuration(const QString &path);

} // namespace fixtures
