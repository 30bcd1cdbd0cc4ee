#include "audiofixtures.h"

#include <QFileInfo>
#include <QProcess>

namespace fixtures {

QString stockFfmpeg()
{
    const QString fromEnv = qEnvironmentVariable("MORVANE_STOCK_FFMPEG");
    return fromEnv.isEmpty() ? QStringLiteral("/usr/bin/ffmpeg") : fromEnv;
}

static QString stockFfprobe()
{
    return QFileInfo(stockFfmpeg()).absolutePath() + QStringLiteral("/ffprobe");
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
    QProcess process;
    process.start(stockFfprobe(),
                  {"-v", "error", "-select_streams", "a:0", "-count_packets", "-show_entries",
                   "stream=duration", "-of", "default=nw=1:nk=1", path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return -1.0;
    bool ok = false;
    const double seconds = QString::fromLatin1(process.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? seconds : -1.0;
}

} // namespace fixtures
