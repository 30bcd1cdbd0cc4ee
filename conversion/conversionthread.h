// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <atomic>
#include <mutex>

// Converts the queued files by running the encoder tool once per file, up to
// one tool per core at a time, and the tools that finish an album: its gain,
// written into its MP3s, and its playlist. The main window hands it its lists and
// settings and starts it; the worker reports back through its three signals,
// always in queue order: the question about an existing output comes before
// that file's tool starts, and fileCompleted comes once per file, in index
// order, whatever order the tools end in.
class ConversionThread : public QThread
{
    Q_OBJECT

public:
    explicit ConversionThread(QObject *parent = nullptr);
    // Stops a run in progress (every running tool is ended) and waits for it.
    // A question asked through a blocking connection must have been answered
    // or dropped by its receiver by then (see fileExists).
    ~ConversionThread() override;

    // Set by the main window before start(); not owned. run() copies the two
    // lists when it begins and never touches the window's lists again.
    QStringList *inputList = nullptr; // full paths
    // Same order as inputList: the file's name, or for a file found in an
    // added folder its path from that folder's parent ("Music/Album/01.flac"),
    // which its MP3 gets below the output folder.
    QStringList *nameList = nullptr;
    int quality = 50;                 // 0..99
    QString outputDir;                // ends with "/"
    // The answer to fileExists, written by the GUI thread while the question
    // waits in the blocking emission.
    std::atomic<bool> overwriteExisting{false};
    // The first file of the run whose completion has not been reported yet;
    // the number of files once a run has ended.
    std::atomic<int> currentIndex{0};

    // How many tools may run at once (at least 1). Read when a run starts.
    int maxTools = QThread::idealThreadCount();
    // A tool that writes nothing (no progress, no output) for this long is
    // taken as hung: it is stopped and its file fails.
    int stallTimeoutMs = 60000;

    // The answer to fileExists stands for every later existing output of
    // the run too (no more questions); written with overwriteExisting.
    std::atomic<bool> sameAnswerForRest{false};
    // The file the open fileExists question is about.
    std::atomic<int> questionIndex{-1};

    // What became of a file: the path below the output folder its MP3 was
    // written under (which differs from the usual one when that was already
    // taken by an earlier file of the same run), why it failed or was kept,
    // and what the tool noted about a file it converted. Valid from the
    // moment fileCompleted(index, ...) is emitted until the next run starts.
    enum class Outcome { Converted, Failed, Kept };
    struct FileResult
    {
        QString outputName;
        QString failureReason; // empty for a converted file
        QStringList notes;
        Outcome outcome = Outcome::Failed;
    };
    FileResult resultOf(int index) const;
    // What went wrong beyond single files (an album gain that could not be
    // written, a playlist that was left alone), complete once the last
    // fileCompleted of a run is out.
    QStringList runNotes() const;

    // Asks a running conversion to end: the running tools are terminated
    // (their partial output removed by the tools themselves), no further
    // file is started, nothing more is reported, and run() returns promptly.
    // Safe to call from any thread. The request stays: a stopped worker
    // starts no further runs (it is only used when the window goes away).
    void requestStop();
    bool isStopRequested() const { return stopRequested.load(); }

signals:
    void fileCompleted(int index, bool isSuccess);
    void fileProgress(int index, uint completedDuration);
    // Emitted from a thread of the worker's own, so the running tools go on
    // while it waits for the answer in overwriteExisting.
    void fileExists(QString outputFile);

protected:
    void run() override;

private:
    friend class QueueRun;
    void storeResult(int index, const FileResult &result);
    void addRunNote(const QString &note);

    std::atomic<bool> stopRequested{false};
    mutable std::mutex resultsLock;
    QVector<FileResult> results; // guarded by resultsLock
    QStringList notes;           // guarded by resultsLock
    // The run under way, to be woken by requestStop().
    std::mutex runLock;
    QObject *activeRun = nullptr; // guarded by runLock
};

// The one worker; its constructor stores itself here and its destructor clears
// it. Read by the progress bridge in the GUI thread.
extern ConversionThread *currentWorker;
