#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Running our encoder tool (never the stock ffmpeg of the same name) and
// checking what it wrote with the stock ffmpeg/ffprobe programs.
namespace encodertool {

// The tool under test (the front the program starts), by its build path,
// and the converter beside it.
QString path();
QString converterPath();

struct Run
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 milliseconds = 0;

    bool succeeded() const;
    // Ended by itself or a signal, non-zero, no success marker, and exactly
    // one line on standard error besides progress lines.
    bool failedCleanly() const;
    QString describe() const; // for failure messages
};

Run run(const QStringList &arguments, const QString &workingDirectory = QString(), int timeoutMs = 60000);
Run runProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory = QString(),
               int timeoutMs = 60000);
Run convert(const QString &input, int quality, const QString &output);
Run probe(const QString &input);

// The lines of standard error that are not progress reports.
QStringList otherErrorLines(const QByteArray &err);

// ffprobe's -show_format -show_streams as JSON; empty when it fails.
QJsonObject describeMedia(const QString &file);

// Decoded samples per channel, rate, the overall RMS level and the RMS
// level of what lies near 1 kHz, measured by the stock ffmpeg. With
// toStereo, more than two channels are first mixed down the usual way.
struct Levels
{
    qint64 samples = -1;
    int sampleRate = 0;
    double rmsDb = 0.0;
    double oneKilohertzDb = 0.0;

    double seconds() const { return sampleRate > 0 ? double(samples) / sampleRate : -1.0; }
};
Levels measure(const QString &file, bool toStereo = false);

// A music-like signal: two tones and pink noise, stereo 44.1 kHz.
bool makeMusic(const QString &path, double seconds);
// A small video (test pattern), with a 1 kHz tone or without audio.
bool makeVideo(const QString &path, bool withAudio);

} // namespace encodertool
