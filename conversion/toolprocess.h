#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Splits what the tool writes to standard error into lines and hands every
// "ProgressMessage <seconds>" line to a callback. A line that grows beyond a
// sane length without a line break is dropped, so a tool that floods its
// error output cannot make the buffer grow without bound.
class ProgressLineReader
{
public:
    using Callback = std::function<void(uint completedSeconds)>;

    explicit ProgressLineReader(Callback onProgress);
    void feed(const QByteArray &bytes);
    void finish(); // the last line, if the tool ended without a line break

private:
    void handleLine(const QByteArray &line);

    Callback onProgress;
    QByteArray pending;
    bool skippingLongLine = false;
};

// One run of the encoder tool, waited for in short steps so that the waiting
// thread needs no event loop and can still follow the tool's progress, notice
// a stop request and give up on a tool that has gone silent.
class ToolProcess
{
public:
    enum class End { Finished, StopRequested, Stalled, NotStarted };

    ToolProcess(const QString &program, const QStringList &arguments);
    ~ToolProcess(); // a tool still running is ended (see stop())
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    // Starts the tool and waits until it has ended, been stopped or stalled.
    // Every progress line is handed to onProgress in the calling thread.
    End run(const std::atomic<bool> &stopRequested, int stallTimeoutMs,
            const ProgressLineReader::Callback &onProgress);

    // Asks the tool to end (SIGTERM, so it can remove its temporary file),
    // then kills it if it has not ended within the time the tool allows
    // itself for that.
    void stop();

    // True when the tool ended by itself with exit code 0.
    bool exitedCleanly() const;
    // Everything the tool wrote to standard output.
    const QByteArray &standardOutput() const { return output; }

private:
    bool readAvailable(ProgressLineReader &progress);

    QProcess process;
    QByteArray output;
};
