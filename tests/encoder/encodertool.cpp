#include "encodertool.h"

#include "audiofixtures.h"
#include "toolcontract.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

namespace encodertool {

QString path()
{
    return QStringLiteral(MORVANE_ENCODER);
}

QString converterPath()
{
    return QStringLiteral(MORVANE_CONVERTER);
}

bool Run::succeeded() const
{
    return finished && exitStatus == QProcess::NormalExit && exitCode == 0 && out.contains(toolcontract::kSuccessMarker);
}

bool Run::failedCleanly() const
{
    const bool nonZero = exitStatus == QProcess::CrashExit || exitCode != 0;
    return finished && nonZero && !out.contains(toolcontract::kSuccessMarker) && otherErrorLines(err).size() == 1;
}

QString Run::describe() const
{
    return QStringLiteral("finished=%1 crashed=%2 exit=%3 stdout=[%4] stderr=[%5]")
        .arg(finished)
        .arg(exitStatus == QProcess::CrashExit)
        .arg(exitCode)
        .arg(QString::fromUtf8(out).trimmed(), QString::fromUtf8(err).trimmed().right(600));
}

Run run(const QStringList &arguments, const QString &workingDirectory, int timeoutMs)
{
    return runProgram(path(), arguments, workingDirectory, timeoutMs);
}

Run runProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory, int timeoutMs)
{
    Run result;
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.milliseconds = timer.elapsed();
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

Run convert(const QString &input, int quality, const QString &output)
{
    return run({"-i", input, "-acodec", "libmp3lame", "-aq", QString::number(quality), output});
}

Run probe(const QString &input)
{
    return run({"-i", input});
}

QStringList otherErrorLines(const QByteArray &err)
{
    static const QRegularExpression progressLine(QStringLiteral("^%1 \\d+$").arg(toolcontract::kProgressPrefix));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!progressLine.match(line).hasMatch())
            lines << line;
    return lines;
}

static QByteArray runStock(const QString &program, const QStringList &arguments, bool errorChannel)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {};
    return errorChannel ? process.readAllStandardError() : process.readAllStandardOutput();
}

QJsonObject describeMedia(const QString &file)
{
    const QString ffprobe = QFileInfo(fixtures::stockFfmpeg()).absolutePath() + QStringLiteral("/ffprobe");
    const QByteArray json =
        runStock(ffprobe, {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", file}, false);
    return QJsonDocument::fromJson(json).object();
}

// The last value astats (instance `instance`) reports under `name`: the
// overall one, which follows the per-channel ones.
static QString reported(const QString &log, const QString &instance, const QString &name)
{
    const QRegularExpression pattern(QStringLiteral("\\[astats@%1 @ [^]]*\\] %2: (-?[0-9.]+)")
                                         .arg(instance, QRegularExpression::escape(name)));
    QString value;
    for (auto it = pattern.globalMatch(log); it.hasNext();)
        value = it.next().captured(1);
    return value;
}

Levels measure(const QString &file, bool toStereo)
{
    const QString downmix = toStereo ? QStringLiteral("aformat=channel_layouts=stereo,") : QString();
    const QString graph = QStringLiteral("[0:a]%1asplit[a][b];[a]astats@whole=metadata=0[whole];"
                                         "[b]bandpass=frequency=1000:width_type=q:width=5,astats@band=metadata=0[band]")
                              .arg(downmix);
    const QString log = QString::fromUtf8(runStock(fixtures::stockFfmpeg(),
                                                   {"-nostdin", "-i", file, "-filter_complex", graph, "-map", "[whole]",
                                                    "-f", "null", "-", "-map", "[band]", "-f", "null", "-"},
                                                   true));
    Levels levels;
    levels.samples = reported(log, "whole", "Number of samples").toLongLong();
    levels.rmsDb = reported(log, "whole", "RMS level dB").toDouble();
    levels.oneKilohertzDb = reported(log, "band", "RMS level dB").toDouble();
    // The input stream is listed first: "Audio: pcm_s16le ..., 44100 Hz, ..."
    levels.sampleRate = QRegularExpression(QStringLiteral("Audio: [^\\n]*?, (\\d+) Hz")).match(log).captured(1).toInt();
    return levels;
}

bool makeMusic(const QString &path, double seconds)
{
    const QString length = QString::number(seconds);
    return fixtures::runStockFfmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=220:duration=" + length, "-f", "lavfi", "-i",
         "sine=frequency=331:duration=" + length, "-f", "lavfi", "-i",
         "anoisesrc=color=pink:amplitude=0.1:seed=7:duration=" + length, "-filter_complex",
         "[0][1][2]amix=inputs=3,volume=2,aformat=channel_layouts=stereo", "-ar", "44100", path});
}

bool makeVideo(const QString &path, bool withAudio)
{
    QStringList arguments{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=2"};
    if (withAudio)
        arguments += {"-f", "lavfi", "-i", "sine=frequency=1000:duration=2", "-c:a", "aac"};
    arguments += {"-c:v", "mpeg4", path};
    return fixtures::runStockFfmpeg(arguments);
}

} // namespace encodertool
