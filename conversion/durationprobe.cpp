#include "durationprobe.h"

#include "encodertool.h"

#include <QElapsedTimer>
#include <QProcess>

namespace {

// After a kill the process is gone at once; the wait only reaps it.
constexpr int kReapAfterKillMs = 2000;

void killAndReap(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(kReapAfterKillMs);
}

int remainingMs(int timeoutMs, const QElapsedTimer &clock)
{
    if (timeoutMs < 0)
        return -1; // no limit, as with QProcess's own waits
    return int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
}

} // namespace

QString runDurationProbe(const QString &toolPath, const QString &inputPath, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();

    QProcess process;
    process.setProgram(toolPath);
    process.setArguments(probeArguments(inputPath));
    // The tool never reads its input, and its diagnostics are of no use here.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);

    if (!process.waitForStarted(remainingMs(timeoutMs, clock))) {
        killAndReap(process);
        return QString();
    }
    const bool finished = process.waitForFinished(remainingMs(timeoutMs, clock))
                          || process.state() == QProcess::NotRunning;
    if (!finished) {
        // The probe runs in the GUI thread: a tool that hangs must not keep
        // the window frozen, so it is killed and the file counts as unmeasured.
        killAndReap(process);
        return QString();
    }
    return toolOutputText(process.readAllStandardOutput());
}

qint64 parseProbeOutput(const QString &output)
{
    const qsizetype first = output.indexOf(QLatin1Char('$'));
    const qsizetype last = output.lastIndexOf(QLatin1Char('$'));
    QString numberText;
    if (first < 0)
        numberText = output;                        // no "$": the whole output
    else if (first == last)
        numberText = output.mid(first + 1);         // one "$": everything after it
    else
        numberText = output.mid(first + 1, last - first - 1);

    bool ok = false;
    const qint64 value = numberText.toLongLong(&ok, 10); // blanks around it are allowed
    return ok ? value : 0;
}

QString durationText(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds - 3600 * hours) / 60;
    const qint64 rest = seconds - 3600 * hours - 60 * minutes;
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes).arg(rest);
}
