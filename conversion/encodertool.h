#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include "toolcontract.h"

// What passes between the program and its encoder tool: where the tool lies,
// the argument lists, the output names and the markers on its output.

// The templates and markers themselves are in toolcontract.h. The templates
// are split into words before use and the placeholders are filled in word by
// word, so every path reaches the tool as exactly one argument, whatever it
// contains.
using toolcontract::kConversionTemplate;
using toolcontract::kProbeTemplate;
using toolcontract::kSuccessMarker;

// Absolute path of the encoder tool: "ffmpeg" in the program's own folder,
// unless a test has pointed it elsewhere with setEncoderToolPath().
QString encoderToolPath();
void setEncoderToolPath(const QString &path); // an empty path restores the default

// Splits a template into words at blanks; double quotes group and are removed.
QStringList splitArgumentTemplate(const QString &argumentTemplate);

// The template's words with ">" (input), "##" (quality) and "<" (output) filled
// in. Text that is filled in is never searched for placeholders again.
QStringList conversionArguments(const QString &inputPath, int quality, const QString &outputPath);
QStringList probeArguments(const QString &inputPath);

// song.wav -> song.mp3, live.set.flac -> live.set.mp3, Report.WAV -> Report.mp3;
// a name without any "." gets ".mp3" appended (take -> take.mp3), so an
// output never takes the name of an input that has no extension.
QString outputNameFor(const QString &inputName);

// The first of "song (2).mp3", "song (3).mp3", ... for which isTaken is false.
// isTaken says whether a name is in use (in the folder, or by this run).
QString numberedOutputName(const QString &outputName, const std::function<bool(const QString &)> &isTaken);

// The file name of a path: the text after its last "/" (the whole path if none).
QString fileNameOfPath(const QString &path);

// The tool's standard output as text: Latin-1, up to its first NUL byte.
QString toolOutputText(const QByteArray &bytes);

bool isSuccessOutput(const QString &outputText);
