// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

class QProcess;

// Measures a list of files with the encoder tool, several at a time, without
// blocking: every probe is a process watched by the event loop of the thread
// the batch lives in. The results come out in the order of the list.
class ProbeBatch : public QObject
{
    Q_OBJECT

public:
    // maxProbes: how many tools run at once (at least 1). timeoutMs: a probe
    // that takes longer is killed and its file counts as not measured.
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
    // The probe's standard output for paths[index] (as runDurationProbe gives
    // it; empty when the tool failed), in increasing index order.
    void measured(int index, const QString &output);
    void finished();

private:
    void launchNext();
    void onProbeEnded(int index);
    void handOutInOrder(bool skipGaps);
    void finishIfDone();

    const QString toolPath;
    const QStringList paths;
    const int maxProbes;
    const int timeoutMs;
    QVector<std::optional<QString>> outputs;
    QVector<QProcess *> running; // by index; null when not running
    int nextToLaunch = 0;
    int nextToHandOut = 0;
    int runningCount = 0;
    bool cancelled = false;
    bool done = false;
};
