// SPDX-License-Identifier: GPL-3.0-or-later
#include "probebatch.h"

#include "encodertool.h"
#include "toolcontract.h"
#include "toolpool.h"

#include <QFile>

#include <algorithm>

namespace {

// Enough files per tool that starting tools costs little against measuring,
// few enough that rows keep coming and that every core gets a share.
constexpr int kMostFilesPerTool = 128;

int filesPerToolFor(int files, int tools)
{
    return std::clamp((files + 4 * tools - 1) / (4 * tools), 1, kMostFilesPerTool);
}

} // namespace

ProbeBatch::ProbeBatch(const QString &toolPath, const QStringList &paths, int maxProbes, int timeoutMs,
                       QObject *parent)
    : QObject(parent)
    , toolPath(toolPath)
    , paths(paths)
    , timeoutMs(timeoutMs)
    , filesPerTool(filesPerToolFor(int(paths.size()), qMax(1, maxProbes)))
    , pool(std::make_unique<ToolPool>(qMax(1, maxProbes), [this](ToolTask &task) {
        return supply(task) ? ToolPool::Supply::Task : ToolPool::Supply::NoMore;
    }))
    , outputs(paths.size())
{
    connect(pool.get(), &ToolPool::taskEnded, this, &ProbeBatch::onProbeEnded);
}

ProbeBatch::~ProbeBatch()
{
    cancelled = true;
    disconnect(pool.get(), nullptr, this, nullptr);
    pool->stopAll();
}

void ProbeBatch::start()
{
    pool->refill();
    finishIfDone();
}

// The next run of files, or a file to measure again on its own. A run of one
// is measured the classic way, with "-i <path>".
bool ProbeBatch::supply(ToolTask &task)
{
    if (cancelled)
        return false;
    task.program = toolPath;
    task.stallTimeoutMs = timeoutMs;
    task.killToStop = true;
    if (!retries.isEmpty()) {
        task.id = retries.takeFirst();
        task.kind = 1;
        task.arguments = probeArguments(paths.at(task.id));
        return true;
    }
    if (nextToLaunch >= paths.size())
        return false;
    task.id = nextToLaunch;
    task.kind = int(qMin<qsizetype>(filesPerTool, paths.size() - nextToLaunch));
    nextToLaunch += task.kind;
    if (task.kind == 1) {
        task.arguments = probeArguments(paths.at(task.id));
        return true;
    }
    task.arguments << QString::fromLatin1(toolcontract::kProbeListOption);
    for (int index = task.id; index < task.id + task.kind; ++index)
        task.input += QFile::encodeName(paths.at(index)) + '\0';
    return true;
}

void ProbeBatch::onProbeEnded(ToolProcess *tool)
{
    const ToolTask &task = tool->task();
    if (task.kind == 1) {
        // A probe that failed counts as measured (the file shows that its
        // length is unknown); one killed by a cancel does not count at all.
        if (!tool->died())
            outputs[task.id] = toolOutputText(tool->standardOutput());
        else if (!cancelled)
            outputs[task.id] = QString();
    } else {
        readProbeAnswers(tool->standardOutput(), task.id, task.kind, outputs);
        for (int index = task.id; index < task.id + task.kind && !cancelled; ++index) {
            if (!outputs.at(index))
                retries.append(index);
        }
    }
    handOutInOrder(cancelled);
    finishIfDone();
}

void ProbeBatch::handOutInOrder(bool skipGaps)
{
    while (nextToHandOut < paths.size() && !done) {
        const int index = nextToHandOut;
        if (outputs.at(index)) {
            ++nextToHandOut;
            emit measured(index, *outputs.at(index));
        } else if (skipGaps) {
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
    pool->stopAll();
    handOutInOrder(true);
    finishIfDone();
}

void ProbeBatch::finishIfDone()
{
    if (done || !pool->isIdle())
        return;
    if (!cancelled && (nextToLaunch < paths.size() || !retries.isEmpty()))
        return;
    handOutInOrder(true);
    done = true;
    emit finished();
}

void readProbeAnswers(const QByteArray &toolOutput, int first, int count, QVector<std::optional<QString>> &outputs)
{
    const QByteArray prefix(toolcontract::kProbeAnswerPrefix);
    for (const QByteArray &line : toolOutput.split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        const QByteArray rest = line.mid(prefix.size()).trimmed();
        const qsizetype blank = rest.indexOf(' ');
        bool ok = false;
        const int index = rest.left(blank).toInt(&ok);
        if (!ok || blank < 0 || index < 0 || index >= count || first + index >= outputs.size())
            continue;
        const QByteArray answer = rest.mid(blank + 1).trimmed();
        outputs[first + index] = answer.startsWith('$') ? QString::fromLatin1(answer) : QString();
    }
}
