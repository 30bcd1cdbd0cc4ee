#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What passes between the program and its encoder tool: where the tool lies,
// the argument lists, the output names and the markers on its output.

// The success marker the tool prints on standard output once the MP3 is in place.
inline constexpr char kSuccessMarker[] = "##success##";

// The argument templates. They stay readable as one string; before use they are
// split into words and the placeholders are filled in word by word, so every
// path reaches the tool as exactly one argument, whatever it contains.
inline constexpr char kConversionTemplate[] = "-i \">\" -acodec libmp3lame -aq ## \"<\"";
inline constexpr char kProbeTemplate[] = "-i \">\"";

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
// a name without "." is returned unchanged.
QString outputNameFor(const QString &inputName);

// The file name of a path: the text after its last "/" (the whole path if none).
QString fileNameOfPath(const QString &path);

// The tool's standard output as text: Latin-1, up to its first NUL byte.
QString toolOutputText(const QByteArray &bytes);

bool isSuccessOutput(const QString &outputText);
