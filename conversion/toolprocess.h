// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Splits what the tool writes to standard error into lines: every
// "ProgressMessage <seconds>" line goes to a callback, and the last line that
// carries the tool's failure reason is kept. A line that grows beyond a sane
// length without a line break is dropped, so a tool that floods its error
// output cannot make the buffer grow without bound.
class ToolErrorReader
{
public:
    using Callback = std::function<void(uint completedSeconds)>;

    explicit ToolErrorReader(Callback onProgress);
    void feed(const QByteArray &bytes);
    void finish(); // the last line, if the tool ended without a line break

    // The tool's last "ffmpeg: <reason>" line without its prefix, or empty.
    QString reason() const { return lastReason; }

private:
    void handleLine(const QByteArray &line);

    Callback onProgress;
    QByteArray pending;
    bool skippingLongLine = false;
    QString lastReason;
};

// One run of the encoder tool, driven by polling, so that one thread without
// an event loop can look after several tools at once: follow their progress,
// notice that one has ended or gone silent, and stop them.
class ToolProcess
{
public:
    ToolProcess(const QString &program, const QStringList &arguments, ToolErrorReader::Callback onProgress);
    ~ToolProcess(); // a tool still running is stopped (see stopTools())
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    // Starts the tool; false when it could not be started.
    bool start();
    // Waits up to waitMs for the tool to write something or end, and reads
    // what it wrote (progress lines go to the callback). True once it has ended.
    bool poll(int waitMs);
    // True when the tool has written nothing for stallTimeoutMs.
    bool hasStalled(int stallTimeoutMs) const;
    bool isRunning() const { return process.state() != QProcess::NotRunning; }

    // True when the tool ended by itself with exit code 0.
    bool exitedCleanly() const;
    // Everything the tool wrote to standard output.
    const QByteArray &standardOutput() const { return output; }
    // Why the tool failed, in one line: its own reason when it gave one,
    // otherwise what is known of how it ended.
    QString failureReason() const;

private:
    friend void stopTools(const std::vector<ToolProcess *> &tools);

    bool readAvailable();

    QProcess process;
    QByteArray output;
    ToolErrorReader errors;
    QElapsedTimer sinceLastOutput;
};

// Asks every tool to end (SIGTERM, so each removes what it was writing),
// gives them together as long as the tool allows itself for that, then kills
// those still running.
void stopTools(const std::vector<ToolProcess *> &tools);
