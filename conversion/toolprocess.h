// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

class Jobserver;

// Splits what the tool writes to standard error into lines: every
// "ProgressMessage <seconds>" line goes to a callback; the last reason line
// ("ffmpeg: <reason>"), the notes ("ffmpeg: note: <text>") and the names of
// the named temporary files the tool made ("PartialFile <name>") are kept.
// A line that grows beyond a sane length without a line break is dropped, so
// a tool that floods its error output cannot make the buffer grow without
// bound.
class ToolErrorReader
{
public:
    using Callback = std::function<void(uint completedSeconds)>;

    explicit ToolErrorReader(Callback onProgress = {});
    void feed(const QByteArray &bytes);
    void finish(); // the last line, if the tool ended without a line break

    // The tool's last "ffmpeg: <reason>" line without its prefix, or empty.
    QString reason() const { return lastReason; }
    const QStringList &notes() const { return noteLines; }
    const QStringList &partialFiles() const { return partialNames; }

private:
    void handleLine(const QByteArray &line);

    Callback onProgress;
    QByteArray pending;
    bool skippingLongLine = false;
    QString lastReason;
    QStringList noteLines;
    QStringList partialNames;
};

// What to run: the tool, its arguments, what it gets on standard input (it
// is closed after that; nothing at all for most tools), and when it counts
// as hung.
struct ToolTask
{
    QString program;
    QStringList arguments;
    QByteArray input;
    ToolErrorReader::Callback onProgress;
    // A tool that writes nothing (no progress, no output) for this long is
    // taken as hung and stopped; 0: no limit.
    int stallTimeoutMs = 0;
    // Stopped by a kill, not asked to end: for tools that write nothing that
    // could be left behind (probes).
    bool killToStop = false;
    // The client's own numbers for the task.
    int id = -1;
    int kind = 0;
};

// One run of a tool, watched through the event loop of the thread the object
// lives in: its output is read as it comes, and ended() is emitted once it has
// ended, by itself or because it was stopped.
class ToolProcess : public QObject
{
    Q_OBJECT

public:
    explicit ToolProcess(ToolTask task, QObject *parent = nullptr);
    // A tool still running is stopped first (see stopTools()).
    ~ToolProcess() override;

    const ToolTask &task() const { return work; }
    // Starts the tool, under the thread budget of jobserver (of `jobs` in
    // all) when one is given. ended() follows in any case, also when the
    // tool could not be started.
    void start(const Jobserver *jobserver = nullptr, int jobs = 0);
    // Asks the tool to end (SIGTERM) and kills it if it is still there after
    // the time the tool allows itself; ended() follows.
    void stop();
    bool hasEnded() const { return endedAlready; }

    // True when the tool ended by itself with exit code 0.
    bool exitedCleanly() const;
    // True when the tool did not end by itself: it crashed, was killed, or
    // was stopped here (for a stall or on request).
    bool died() const;
    bool stalled() const { return stalledOut; }
    // Everything the tool wrote to standard output.
    const QByteArray &standardOutput() const { return output; }
    const ToolErrorReader &errorLines() const { return errors; }
    // Why the tool failed, in one line: its own reason when it gave one,
    // otherwise what is known of how it ended.
    QString failureReason() const;

signals:
    void ended();

private:
    friend void stopTools(const std::vector<ToolProcess *> &tools);

    void readAvailable();
    void onFinished();

    ToolTask work;
    QProcess process;
    QByteArray output;
    ToolErrorReader errors;
    QTimer stallTimer;
    QTimer killTimer;
    bool endedAlready = false;
    bool stalledOut = false;
    bool stopRequested = false;
};

// Asks every tool to end (SIGTERM, so each removes what it was writing),
// gives them together as long as the tool allows itself for that, then kills
// those still running; returns once all have ended. For the end of a run,
// when nothing else is left to look after.
void stopTools(const std::vector<ToolProcess *> &tools);

// The name of a signal that ended a tool: "SIGABRT (Aborted)".
QString signalName(int signalNumber);
