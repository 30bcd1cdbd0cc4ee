#pragma once

#include <QString>
#include <QtGlobal>

// Measuring a file's duration with the encoder tool ("-i <path>" prints "$seconds$").

// How long a probe may take before the tool is killed and the file is taken as
// not measured. The tool normally answers in tens of milliseconds.
inline constexpr int kProbeTimeoutMs = 5000;

// Runs the tool at toolPath on inputPath and returns its standard output as text
// (Latin-1, up to the first NUL). Empty when the tool cannot be started; when it
// does not end within timeoutMs it is killed and the result is empty as well.
QString runDurationProbe(const QString &toolPath, const QString &inputPath,
                         int timeoutMs = kProbeTimeoutMs);

// The number between the first and the last "$" of the output (the text after a
// single "$", or the whole output when there is none), read as a signed 64-bit
// decimal with optional blanks around it; 0 when it is not a number.
qint64 parseProbeOutput(const QString &output);

// "h:m:s" without padding: 205 -> "0:3:25", 3903 -> "1:5:3", 36000 -> "10:0:0".
// Only meaningful for seconds > 0.
QString durationText(qint64 seconds);
