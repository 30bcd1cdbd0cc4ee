#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Converts the queued files one after another by running the encoder tool once
// per file. The main window hands it its lists and settings and starts it; the
// worker reports back only through its three signals.
class ConversionThread : public QThread
{
    Q_OBJECT

public:
    explicit ConversionThread(QObject *parent = nullptr);
    // Stops a run in progress (the running tool is ended) and waits for it.
    ~ConversionThread() override;

    // Set by the main window before start(); not owned. run() copies the two
    // lists when it begins and never touches the window's lists again.
    QStringList *inputList = nullptr; // full paths
    QStringList *nameList = nullptr;  // file names, same order as inputList
    int quality = 50;                 // 0..99
    QString outputDir;                // ends with "/"
    // The answer to fileExists, written by the GUI thread while the worker
    // waits in the blocking emission.
    bool overwriteExisting = false;
    // Index of the file being converted; read by the progress bridge.
    std::atomic<int> currentIndex{0};

    // A tool that writes nothing (no progress, no output) for this long is
    // taken as hung: it is killed and the file fails.
    int stallTimeoutMs = 60000;

    // Asks a running conversion to end: the running tool is terminated (its
    // partial output removed by the tool itself), no further file is started,
    // and run() returns promptly. Safe to call from any thread. The request
    // stays: a stopped worker starts no further runs (it is only used when the
    // window goes away).
    void requestStop();
    bool isStopRequested() const { return stopRequested.load(); }

signals:
    void fileCompleted(int index, bool isSuccess);
    void fileProgress(int index, uint completedDuration);
    void fileExists(QString outputFile);

protected:
    void run() override;

private:
    void convertQueue();
    QString outputPathFor(const QString &outputName) const;
    // Emits fileExists and returns the answer; false when a stop was
    // requested meanwhile or nobody answered.
    bool askOverwrite(const QString &outputName);
    bool convertOne(const QString &inputPath, const QString &outputPath);
    // Drops a question the GUI thread can no longer answer (see destructor).
    void dropUnansweredQuestion();
    // Only does something in ThreadSanitizer builds; see askOverwrite().
    void confirmAnswerOrdering();
    Q_INVOKABLE void answerOrderingHandshake();

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> waitingForAnswer{false};
};

// The one worker; its constructor stores itself here and its destructor clears
// it. Read by the progress bridge in the GUI thread.
extern ConversionThread *currentWorker;
