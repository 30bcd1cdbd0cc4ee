// SPDX-License-Identifier: GPL-3.0-or-later
#include "probebatch.h"

#include "encodertool.h"

#include <QProcess>
#include <QTimer>

ProbeBatch::ProbeBatch(const QString &toolPath, const QStringList &paths, int maxProbes, int timeoutMs,
                       QObject *parent)
    : QObject(parent)
    , toolPath(toolPath)
    , paths(paths)
    , maxProbes(qMax(1, maxProbes))
    , timeoutMs(timeoutMs)
    , outputs(paths.size())
    , running(paths.size(), nullptr)
{
}

ProbeBatch::~ProbeBatch()
{
    cancelled = true;
    for (QProcess *process : std::as_const(running)) {
        if (!process)
            continue;
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
        delete process;
    }
}

void ProbeBatch::start()
{
    while (!cancelled && runningCount < maxProbes && nextToLaunch < paths.size())
        launchNext();
    finishIfDone();
}

void ProbeBatch::launchNext()
{
    const int index = nextToLaunch++;
    auto *process = new QProcess(this);
    process->setProgram(toolPath);
    process->setArguments(probeArguments(paths.at(index)));
    // The tool never reads its input, and its diagnostics are of no use here.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    running[index] = process;
    ++runningCount;
    connect(process, &QProcess::finished, this, [this, index] { onProbeEnded(index); });
    connect(process, &QProcess::errorOccurred, this, [this, index](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onProbeEnded(index);
    });
    // A tool that hangs must not hold the add up: it is killed and the file
    // counts as not measured.
    QTimer::singleShot(timeoutMs, process, [process] { process->kill(); });
    process->start(QIODevice::ReadOnly);
}

void ProbeBatch::onProbeEnded(int index)
{
    QProcess *process = running.value(index);
    if (!process)
        return;
    running[index] = nullptr;
    --runningCount;
    const bool endedByItself = process->exitStatus() == QProcess::NormalExit
                               && process->error() != QProcess::FailedToStart;
    // A probe that failed counts as measured (the file shows that its length
    // is unknown); one killed by a cancel does not count at all.
    if (endedByItself)
        outputs[index] = toolOutputText(process->readAllStandardOutput());
    else if (!cancelled)
        outputs[index] = QString();
    process->disconnect(this);
    process->deleteLater();
    handOutInOrder(cancelled);
    if (!cancelled)
        start();
    else
        finishIfDone();
}

void ProbeBatch::handOutInOrder(bool skipGaps)
{
    while (nextToHandOut < paths.size() && !done) {
        const int index = nextToHandOut;
        if (outputs.at(index)) {
            ++nextToHandOut;
            emit measured(index, *outputs.at(index));
        } else if (skipGaps && !running.at(index)) {
            ++nextToHandOut; // cancelled before it was measured
        } else {
            return;
        }
    }
}

void ProbeBatch::cancel()
{
    if (done || cancelled)
        return;
    cancelled = true;
    for (int index = 0; index < running.size(); ++index) {
        if (QProcess *process = running.at(index))
            process->kill(); // its finished() still comes, and is handed out as not measured
    }
    handOutInOrder(true);
    finishIfDone();
}

void ProbeBatch::finishIfDone()
{
    if (done || runningCount > 0)
        return;
    if (!cancelled && nextToLaunch < paths.size())
        return;
    handOutInOrder(true);
    done = true;
    emit finished();
}
