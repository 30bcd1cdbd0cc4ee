// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "albuminfo.h"
#include "conversionthread.h"
#include "toolpool.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

// The one question about an existing output that a run may have open. It is
// asked from a thread of its own: the blocking emission waits there for the
// answer, while the run goes on looking after the tools already running and
// reporting the files they finish. onAnswered runs on the asking thread.
class OverwriteQuestion
{
public:
    ~OverwriteQuestion() { close(); }
    void ask(ConversionThread *worker, const QString &outputName, std::function<void()> onAnswered);
    bool isOpen() const { return asker.joinable(); }
    bool isAnswered() const { return answered.load(); }
    struct Answer
    {
        bool overwrite = false;
        bool forRest = false;
    };
    // Waits until the emission has returned and gives the answer.
    Answer close();

private:
    std::thread asker;
    std::atomic<bool> answered{false};
    std::atomic<bool> overwrite{false};
    std::atomic<bool> forRest{false};
};

// One run over the queue, in the worker thread's event loop: starts the files
// in queue order through a pool of one tool per core, and reports each
// file's outcome in queue order once every earlier file has been reported.
// When every file of an input folder is done, its albums get their gain and
// its output folder a playlist; the last file is reported after that.
class QueueRun : public QObject
{
    Q_OBJECT

public:
    explicit QueueRun(ConversionThread &worker);
    ~QueueRun() override;
    void start();
    // Stops every tool; nothing more is reported. finished() follows.
    void stop();

signals:
    void finished();

private:
    enum Kind { Conversion, AlbumGain };
    using Outcome = ConversionThread::Outcome;
    struct File
    {
        QString wantedOutput; // the output path below the output folder, unnumbered
        QString outputName;   // what it got
        bool decided = false;
        Outcome outcome = Outcome::Failed;
        TrackInfo info;
        int folder = -1; // index into folders
    };
    // The files of the run that come from one input folder and go to one
    // output folder.
    struct Folder
    {
        QString inputFolder;
        QString outputFolder; // below the output folder, "" or ending in "/"
        QVector<int> files;
        int decided = 0;
    };

    ToolPool::Supply supply(ToolTask &task);
    bool takeAnswer(ToolTask &task);
    bool prepare(int index, ToolTask &task);
    bool makeConversionTask(int index, const QString &outputName, ToolTask &task);
    void onTaskEnded(ToolProcess *tool);
    void decide(int index, Outcome outcome, const QString &outputName, const QString &reason,
                const QStringList &notes = {});
    void finishFolder(const Folder &folder);
    bool folderHoldsOnlyRunFiles(const Folder &folder) const;
    void writePlaylist(const Folder &folder);
    void reportInOrder();
    void finishIfDone();
    void moveToWantedName(int index);
    bool makeFolders(const QString &outputFolder, QString &failure);
    void removeFoldersLeftEmpty();
    void removePartialFiles(const ToolProcess &tool);

    bool stopped() const { return worker.isStopRequested() || stopping; }
    int count() const { return int(inputs.size()); }
    QString absoluteOutput(const QString &outputName) const { return outputDir + outputName; }
    bool isClaimed(const QString &name) const { return claimed.contains(name.toCaseFolded()); }
    void claim(const QString &name) { claimed.insert(name.toCaseFolded()); }
    void release(const QString &name) { claimed.remove(name.toCaseFolded()); }

    ConversionThread &worker;
    // Own copies (cheap, shared until written): once the last fileCompleted
    // is out, the window may clear its lists while this run is still ending.
    const QStringList inputs;
    const QStringList names;
    const QString outputDir;
    const int quality;
    const int stallTimeoutMs;

    std::vector<File> files;
    std::vector<Folder> folders;
    ToolPool pool;
    // The output paths this run writes, case-folded: a later file of the run
    // never replaces one of them, and on a file system that ignores case,
    // "Song.mp3" is the same file as "song.mp3".
    QSet<QString> claimed;
    QStringList createdFolders; // below the output folder, parents first
    OverwriteQuestion question;
    QString askedName; // the output the open question is about
    int answerForRest = -1; // -1: ask; 0: keep every existing output; 1: overwrite
    std::vector<ToolTask> albumTasks;
    QHash<int, QString> albumFolders; // the albums whose gain is to come, by task id
    int nextAlbumId = 0;
    int nextToStart = 0;
    int nextToReport = 0;
    bool stopping = false;
    bool done = false;
};
