#include "toolprocess.h"

#include "progressbridge.h"
#include "toolcontract.h"

#include <QElapsedTimer>

namespace {

// Each wait for the tool is this short, so a stop request is seen quickly.
constexpr int kPollMs = 50;
// Starting is a fork and exec; this only guards against a stuck start.
constexpr int kStartTimeoutMs = 10000;
// How long a terminated tool gets to clean up before it is killed: longer
// than the tool allows itself, so a tool is never killed mid-clean-up.
constexpr int kTerminateGraceMs = toolcontract::kStopGraceMs;
constexpr int kReapAfterKillMs = 5000;
// Longer progress lines do not exist; anything this long is noise.
constexpr qsizetype kMaxLineLength = 4096;

} // namespace

ProgressLineReader::ProgressLineReader(Callback onProgress)
    : onProgress(std::move(onProgress))
{
}

void ProgressLineReader::feed(const QByteArray &bytes)
{
    pending += bytes;
    qsizetype lineStart = 0;
    for (qsizetype newline; (newline = pending.indexOf('\n', lineStart)) >= 0; lineStart = newline + 1) {
        if (skippingLongLine)
            skippingLongLine = false; // the end of the overlong line: drop it
        else
            handleLine(pending.mid(lineStart, newline - lineStart));
    }
    pending.remove(0, lineStart);
    if (pending.size() > kMaxLineLength) {
        pending.clear();
        skippingLongLine = true;
    }
}

void ProgressLineReader::finish()
{
    if (!skippingLongLine && !pending.isEmpty())
        handleLine(pending);
    pending.clear();
    skippingLongLine = false;
}

void ProgressLineReader::handleLine(const QByteArray &line)
{
    uint seconds = 0;
    if (onProgress && parseProgressLine(line, &seconds))
        onProgress(seconds);
}

ToolProcess::ToolProcess(const QString &program, const QStringList &arguments)
{
    process.setProgram(program);
    process.setArguments(arguments);
    // The tool never reads its input: give it an empty one, so a tool that
    // tried would see the end at once instead of waiting on an open pipe.
    process.setStandardInputFile(QProcess::nullDevice());
}

ToolProcess::~ToolProcess()
{
    stop();
}

ToolProcess::End ToolProcess::run(const std::atomic<bool> &stopRequested, int stallTimeoutMs,
                                  const ProgressLineReader::Callback &onProgress)
{
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(kStartTimeoutMs))
        return End::NotStarted;

    ProgressLineReader progress(onProgress);
    QElapsedTimer sinceLastOutput;
    sinceLastOutput.start();
    for (;;) {
        const bool ended = process.waitForFinished(kPollMs)
                           || process.state() == QProcess::NotRunning;
        if (readAvailable(progress))
            sinceLastOutput.restart();
        if (ended)
            break;
        if (stopRequested.load())
            return End::StopRequested;
        if (sinceLastOutput.hasExpired(stallTimeoutMs))
            return End::Stalled;
    }
    readAvailable(progress);
    progress.finish();
    return End::Finished;
}

bool ToolProcess::readAvailable(ProgressLineReader &progress)
{
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    output += out;
    progress.feed(err);
    return !out.isEmpty() || !err.isEmpty();
}

void ToolProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (process.waitForFinished(kTerminateGraceMs) || process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(kReapAfterKillMs);
}

bool ToolProcess::exitedCleanly() const
{
    return process.state() == QProcess::NotRunning && process.error() != QProcess::FailedToStart
           && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
