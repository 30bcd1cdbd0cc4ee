// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolprocess.h"

#include "jobserver.h"
#include "progressbridge.h"
#include "toolcontract.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstring>

namespace {

constexpr int kReapAfterKillMs = 5000;
// Longer progress, reason or note lines do not exist; anything this long is noise.
constexpr qsizetype kMaxLineLength = 4096;

// The texts passed here are marked QT_TRANSLATE_NOOP("ToolProcess", ...) where
// they stand, for lupdate to find.
QString trTool(const char *text)
{
    return QCoreApplication::translate("ToolProcess", text);
}

QByteArray afterPrefix(const QByteArray &line, const char *prefix)
{
    return line.mid(qsizetype(std::strlen(prefix)));
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
    } else if (line.startsWith(toolcontract::kNotePrefix)) {
        const QString note = QString::fromUtf8(afterPrefix(line, toolcontract::kNotePrefix)).trimmed();
        if (!note.isEmpty())
            noteLines << note;
    } else if (line.startsWith(toolcontract::kReasonPrefix)) {
        lastReason = QString::fromUtf8(afterPrefix(line, toolcontract::kReasonPrefix)).trimmed();
    } else if (line.startsWith(toolcontract::kPartialFilePrefix)) {
        const QByteArray name = afterPrefix(line, toolcontract::kPartialFilePrefix);
        partialNames << QString::fromStdString(toolcontract::decodeLineText(name.toStdString()));
    }
}

ToolProcess::ToolProcess(ToolTask task, QObject *parent)
    : QObject(parent)
    , work(std::move(task))
    , errors(work.onProgress)
{
    process.setProgram(work.program);
    process.setArguments(work.arguments);
    // A tool that is given nothing sees the end of its input at once,
    // instead of waiting on an open pipe.
    if (work.input.isEmpty())
        process.setStandardInputFile(QProcess::nullDevice());
    connect(&process, &QProcess::readyReadStandardOutput, this, &ToolProcess::readAvailable);
    connect(&process, &QProcess::readyReadStandardError, this, &ToolProcess::readAvailable);
    connect(&process, &QProcess::finished, this, &ToolProcess::onFinished);
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished();
    });
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, [this] {
        stalledOut = true;
        stop();
    });
    killTimer.setSingleShot(true);
    connect(&killTimer, &QTimer::timeout, this, [this] { process.kill(); });
}

ToolProcess::~ToolProcess()
{
    // The ended() of a tool stopped here goes to nobody any more.
    disconnect(this, &ToolProcess::ended, nullptr, nullptr);
    stopTools({this});
}

void ToolProcess::start(const Jobserver *jobserver, int jobs)
{
    if (jobserver)
        jobserver->inherit(process, jobs);
    process.start(work.input.isEmpty() ? QIODevice::ReadOnly : QIODevice::ReadWrite);
    if (!work.input.isEmpty()) {
        process.write(work.input);
        process.closeWriteChannel(); // after what is still buffered has gone
    }
    if (work.stallTimeoutMs > 0)
        stallTimer.start(work.stallTimeoutMs);
}

void ToolProcess::stop()
{
    if (endedAlready || stopRequested)
        return;
    stopRequested = true;
    stallTimer.stop();
    if (work.killToStop) {
        process.kill();
        return;
    }
    process.terminate();
    killTimer.start(toolcontract::kStopGraceMs);
}

void ToolProcess::readAvailable()
{
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    output += out;
    errors.feed(err);
    if ((!out.isEmpty() || !err.isEmpty()) && stallTimer.isActive())
        stallTimer.start(work.stallTimeoutMs);
}

void ToolProcess::onFinished()
{
    if (endedAlready)
        return;
    endedAlready = true;
    stallTimer.stop();
    killTimer.stop();
    readAvailable();
    errors.finish();
    emit ended();
}

bool ToolProcess::exitedCleanly() const
{
    return endedAlready && !stopRequested && process.error() != QProcess::FailedToStart
           && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool ToolProcess::died() const
{
    return process.error() != QProcess::FailedToStart
           && (stopRequested || process.exitStatus() == QProcess::CrashExit);
}

QString ToolProcess::failureReason() const
{
    if (process.error() == QProcess::FailedToStart)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool %1 could not be started (%2)"))
            .arg(process.program(), process.errorString());
    if (!errors.reason().isEmpty())
        return errors.reason();
    if (process.exitStatus() == QProcess::CrashExit)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool was ended by signal %1"))
            .arg(signalName(process.exitCode()));
    if (process.exitCode() != 0)
        return trTool(QT_TRANSLATE_NOOP("ToolProcess",
                                        "the encoder tool failed without giving a reason (exit code %1)"))
            .arg(process.exitCode());
    return trTool(QT_TRANSLATE_NOOP("ToolProcess", "the encoder tool did not report a finished MP3"));
}

void stopTools(const std::vector<ToolProcess *> &tools)
{
    auto running = [](const ToolProcess *tool) { return tool->process.state() != QProcess::NotRunning; };
    for (ToolProcess *tool : tools) {
        if (running(tool)) {
            tool->stopRequested = true;
            if (tool->work.killToStop)
                tool->process.kill();
            else
                tool->process.terminate();
        }
    }
    const QDeadlineTimer grace(toolcontract::kStopGraceMs);
    for (ToolProcess *tool : tools) {
        if (running(tool))
            tool->process.waitForFinished(int(qMax<qint64>(0, grace.remainingTime())));
    }
    for (ToolProcess *tool : tools) {
        if (!running(tool))
            continue;
        tool->process.kill();
        tool->process.waitForFinished(kReapAfterKillMs);
    }
}

QString signalName(int signalNumber)
{
    const char *abbreviation = sigabbrev_np(signalNumber);
    const char *description = sigdescr_np(signalNumber);
    if (!abbreviation)
        return QString::number(signalNumber);
    const QString name = QStringLiteral("SIG") + QLatin1String(abbreviation);
    return description ? QStringLiteral("%1 (%2)").arg(name, QLatin1String(description)) : name;
}
