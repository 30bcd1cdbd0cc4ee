// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

class ToolPool;
class ToolProcess;
struct ToolTask;

// Measures a list of files with the encoder tool, several tools at a time,
// without blocking: the tools run in a pool watched by the event loop of the
// thread the batch lives in. Each tool measures a run of files ("-probe-list",
// paths on its standard input), so that thousands of files cost tens of tool
// starts, not thousands; a file that a list probe leaves unanswered (its
// tool crashed or hung on some file) is measured again on its own. The
// results come out in the order of the list.
class ProbeBatch : public QObject
{
    Q_OBJECT

public:
    // maxProbes: how many tools run at once (at least 1). timeoutMs: a tool
    // that answers nothing for that long is killed; a file measured on its
    // own then counts as not measured.
    ProbeBatch(const QString &toolPath, const QStringList &paths, int maxProbes, int timeoutMs,
               QObject *parent = nullptr);
    ~ProbeBatch() override;

    // Starts the first probes; finished() follows once every file is done
    // (at once for an empty list).
    void start();
    // Kills the running probes. Files measured already are still handed out
    // (in list order); the others are not. finished() follows.
    void cancel();
    bool isFinished() const { return done; }

signals:
    // The probe's answer for paths[index] as a single probe prints it
    // ("$<seconds>$"; empty when the file could not be measured), in
    // increasing index order.
    void measured(int index, const QString &output);
    void finished();

private:
    bool supply(ToolTask &task);
    void onProbeEnded(ToolProcess *tool);
    void handOutInOrder(bool skipGaps);
    void finishIfDone();

    const QString toolPath;
    const QStringList paths;
    const int timeoutMs;
    const int filesPerTool;
    std::unique_ptr<ToolPool> pool;
    QVector<std::optional<QString>> outputs;
    QVector<int> retries; // files a list probe left unanswered, to measure alone
    int nextToLaunch = 0;
    int nextToHandOut = 0;
    bool cancelled = false;
    bool done = false;
};

// Reads a list probe's answers ("Probe <index> $<seconds>$" or
// "Probe <index> failed <reason>") into outputs[first + index], as a single
// probe's output ("$<seconds>$", or empty for a file that failed). Indices
// outside [0, count) are ignored.
void readProbeAnswers(const QByteArray &toolOutput, int first, int count, QVector<std::optional<QString>> &outputs);
