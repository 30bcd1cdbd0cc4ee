// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolprocess.h"

#include "progressbridge.h"
#include "toolcontract.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {

// Starting is a fork and exec; this only guards against a stuck start.
constexpr int kStartTimeoutMs = 10000;
constexpr int kReapAfterKillMs = 5000;
// Longer progress or reason lines do not exist; anything this long is noise.
constexpr qsizetype kMaxLineLength = 4096;

// The texts passed here are marked QT_TRANSLATE_NOOP("ToolProcess", ...) where
// they stand, for lupdate to find.
QString trTool(const char *text)
{
    return QCoreApplication::translate("ToolProcess", text);
}

} // namespace

ToolErrorReader::ToolErrorReader(Callback onProgress)
    : onProgress(std::move(onProgress))
{
}

void ToolErrorReader::feed(const QByteArray &bytes)
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

void ToolErrorReader::finish()
{
    if (!skippingLongLine && !pending.isEmpty())
        handleLine(pending);
    pending.clear();
    skippingLongLine = false;
}

void ToolErrorReader::handleLine(const QByteArray &line)
{
    uint seconds = 0;
    if (parseProgressLine(line, &seconds)) {
        if (onProgress)
            onProgress(seconds);
        return;
    }
    if (line.startsWith(toolcontract::kReasonPrefix))
        lastReason = QString::fromUtf8(line.mid(qsizetype(sizeof toolcontract::kReasonPrefix) - 1)).trimmed();
}

ToolProcess::ToolProcess(const QString &program, const QStringList &arguments,
                         ToolErrorReader::Callback onProgress)
    : errors(std::move(onProgress))
{
    process.setProgram(program);
    process.setArguments(arguments);
    // The tool never reads its input: give it an empty one, so a tool that
    // tried would see the end at once instead of waiting on an open pipe.
    process.setStandardInputFile(QProcess::nullDevice());
}

ToolProcess::~ToolProcess()
{
    stopTools({this});
}

bool ToolProcess::start()
{
    process.start(QIODevice::ReadOnly);
    sinceLastOutput.start();
    return process.waitForStarted(kStartTimeoutMs);
}

bool ToolProcess::poll(int waitMs)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    const bool ended = process.waitForFinished(waitMs) || process.state() == QProcess::NotRunning;
    if (readAvailable())
        sinceLastOutput.restart();
    if (ended) {
        readAvailable();
        errors.finish();
    }
    return ended;
}

bool ToolProcess::hasStalled(int stallTimeoutMs) const
{
    return sinceLastOutput.hasExpired(stallTimeoutMs);
}

bool ToolProcess::readAvailable()
{
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    output += out;
    errors.feed(err);
    return !out.isEmpty() || !err.isEmpty();
}

bool ToolProcess::exitedCleanly() const
{
    return process.state() == QProcess::NotRunning && process.error() != QProcess::FailedToStart
           && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString ToolProcess::failureReason() const
{
    if (process.error() == QProcess::FailedToStart)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool %1 could not be started (%2)"))
            .arg(process.program(), process.errorString());
    if (!errors.reason().isEmpty())
        return errors.reason();
    if (process.exitStatus() == QProcess::CrashExit)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool ended unexpectedly (signal %1)"))
            .arg(process.exitCode());
    if (process.exitCode() != 0)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess",
                                        "the encoder tool failed without giving a reason (exit code %1)"))
            .arg(process.exitCode());
    return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool did not report a finished MP3"));
}

void stopTools(const std::vector<ToolProcess *> &tools)
{
    for (ToolProcess *tool : tools) {
        if (tool->isRunning())
            tool->process.terminate();
    }
    const QDeadlineTimer grace(toolcontract::kStopGraceMs);
    for (ToolProcess *tool : tools) {
        if (tool->isRunning())
            tool->process.waitForFinished(int(qMax<qint64>(0, grace.remainingTime())));
    }
    for (ToolProcess *tool : tools) {
        if (!tool->isRunning())
            continue;
        tool->process.kill();
        tool->process.waitForFinished(kReapAfterKillMs);
    }
}
