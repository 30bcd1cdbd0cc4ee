#include "audiofixtures.h"

#include <QFileInfo>
#include <QProcess>

namespace fixtures {

QString stockFfmpeg()
{
    const QString fromEnv = qEnvironmentVariable("MORVANE_STOCK_FFMPEG");
    return fromEnv.isEmpty() ? QStringLiteral("/usr/bin/ffmpeg") : fromEnv;
}

bool runStockFfmpeg(const QStringList &arguments, QString *error)
{
    QProcess process;
    process.start(stockFfmpeg(), QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    const bool finished = process.waitForFinished(120000);
    const bool ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok && error)
        *error = process.errorString() + QLatin1Char(' ') + QString::fromLocal8Bit(process.readAllStandardError());
    return ok;
}

bool makeTone(const QString &path, const Tone &tone, QString *error)
{
    const QString source = QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3")
                               .arg(tone.frequency)
                               .arg(tone.sampleRate)
                               .arg(tone.seconds, 0, 'f', 6);
    QStringList arguments{"-f", "lavfi", "-i", source, "-ac", QString::number(tone.channels)};
    arguments += tone.outputOptions;
    arguments += path;
    return runStockFfmpeg(arguments, error);
}

double decodedDuration(const QString &path)
{
    // Decode the whole stream (gapless trimming included) to 48 kHz mono
    // 16-bit samples and count them.
    constexpr int rate = 48000;
    QProcess process;
    process.start(stockFfmpeg(), {"-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1",
                                  "-ar", QString::number(rate), "-f", "s16le", "-"});
    qint64 bytes = 0;
    while (process.waitForReadyRead(60000))
        bytes += process.readAllStandardOutput().size();
    process.waitForFinished(60000);
    bytes += process.readAllStandardOutput().size();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || bytes == 0)
        return -1.0;
    return double(bytes) / 2.0 / rate;
}

} // namespace fixtures
