// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionthread.h"

#include "encodertool.h"
#include "progressbridge.h"
#include "toolprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <memory>
#include <thread>
#include <vector>

ConversionThread *currentWorker = nullptr;

namespace {

// How long one round of the run waits for its oldest running tool before it
// looks at the others, at a question and at a stop request again.
constexpr int kPollMs = 20;

// Hands one progress report to the GUI thread, where the filter installed on
// the application turns it into fileProgress. The event names the file it
// belongs to, since several files are converted at once.
void postProgress(int fileIndex, uint completedSeconds)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (progressMessageId == 0 || !app)
        return;
    QCoreApplication::postEvent(app, new ProgressMessageEvent(completedSeconds, fileIndex));
}

// The one question about an existing output that a run may have open. It is
// asked from a thread of its own: the blocking emission waits there for the
// answer, while the run goes on looking after the tools already running and
// reporting the files they finish.
class OverwriteQuestion
{
public:
    ~OverwriteQuestion() { close(); }

    void ask(ConversionThread *worker, const QString &outputName)
    {
        answered.store(false);
        asker = std::thread([this, worker, outputName] {
            worker->overwriteExisting.store(false); // nobody answering means "do not overwrite"
            emit worker->fileExists(outputName);
            overwrite.store(worker->overwriteExisting.load());
            answered.store(true);
        });
    }
    bool isOpen() const { return asker.joinable(); }
    bool isAnswered() const { return answered.load(); }
    // Waits until the emission has returned and gives the answer.
    bool close()
    {
        if (asker.joinable())
            asker.join();
        return overwrite.load();
    }

private:
    std::thread asker;
    std::atomic<bool> answered{false};
    std::atomic<bool> overwrite{false};
};

} // namespace

// One run over the queue: starts the files in queue order as long as fewer
// than maxTools tools run, looks after the running tools, and reports each
// file's outcome in queue order once every earlier file has been reported.
class QueueRun
{
public:
    explicit QueueRun(ConversionThread &worker);
    void execute();

private:
    struct Running
    {
        int index;
        QString outputName;
        std::unique_ptr<ToolProcess> tool;
    };
    struct Outcome
    {
        bool decided = false;
        bool success = false;
    };

    bool stopped() const { return worker.isStopRequested(); }
    int count() const { return int(inputs.size()); }
    QString outputPathFor(const QString &outputName) const { return outputDir + outputName; }
    void startWhatCan();
    void prepare(int index);
    void startTool(int index, const QString &outputName);
    void pollTools(int waitMs);
    void decide(int index, bool success, const QString &outputName, const QString &failureReason);
    void reportInOrder();
    void stopAll();
    bool isClaimed(const QString &name) const { return claimed.contains(name.toCaseFolded()); }
    void claim(const QString &name) { claimed.insert(name.toCaseFolded()); }

    ConversionThread &worker;
    // Own copies (cheap, shared until written): once the last fileCompleted
    // is out, the window may clear its lists while this run is still ending.
    const QStringList inputs;
    const QStringList names;
    const QString outputDir;
    const int quality;
    const int maxTools;
    const int stallTimeoutMs;

    std::vector<Outcome> outcomes;
    std::vector<Running> running;
    // The output names this run writes, case-folded: a later file of the
    // run never replaces one of them, and on a file system that ignores
    // case, "Song.mp3" is the same file as "song.mp3".
    QSet<QString> claimed;
    OverwriteQuestion question;
    QString askedName; // the output name the open question is about
    int nextToStart = 0;
    int nextToReport = 0;
};

QueueRun::QueueRun(ConversionThread &worker)
    : worker(worker)
    , inputs(*worker.inputList)
    , names(*worker.nameList)
    , outputDir(worker.outputDir.isEmpty() || worker.outputDir.endsWith(QLatin1Char('/'))
                    ? worker.outputDir
                    : worker.outputDir + QLatin1Char('/'))
    , quality(worker.quality)
    , maxTools(qMax(1, worker.maxTools))
    , stallTimeoutMs(worker.stallTimeoutMs)
    , outcomes(size_t(inputs.size()))
{
    worker.currentIndex = 0;
    std::lock_guard<std::mutex> lock(worker.resultsLock);
    worker.results = QVector<ConversionThread::FileResult>(inputs.size());
}

void QueueRun::execute()
{
    while (nextToReport < count()) {
        if (stopped()) {
            stopAll();
            return;
        }
        startWhatCan();
        if (running.empty())
            QThread::msleep(kPollMs); // only a question is open: wait for the answer
        else
            pollTools(kPollMs);
        reportInOrder();
    }
}

void QueueRun::startWhatCan()
{
    while (!stopped() && nextToStart < count() && int(running.size()) < maxTools) {
        if (question.isOpen()) {
            if (!question.isAnswered())
                return; // the running tools go on meanwhile
            const bool overwrite = question.close();
            const int index = nextToStart++;
            if (stopped())
                return;
            if (overwrite) {
                // The existing file stays until the tool has the new one
                // complete and renames it over the old one.
                claim(askedName);
                startTool(index, askedName);
            } else {
                decide(index, false, askedName, ConversionThread::tr("kept the existing %1").arg(askedName));
            }
            continue;
        }
        // Files already decided are reported first, so the window sees
        // every outcome before it is asked about a later file.
        reportInOrder();
        prepare(nextToStart);
    }
}

// Names the file's output and starts its tool, or opens the question about
// an output that was there before the run.
void QueueRun::prepare(int index)
{
    const QString inputPath = inputs.at(index);
    QString outputName = outputNameFor(names.value(index, fileNameOfPath(inputPath)));
    if (!outputDir.isEmpty() && !QFileInfo(outputDir).isDir()) {
        ++nextToStart;
        decide(index, false, outputName,
               ConversionThread::tr("the output folder %1 does not exist").arg(QDir::toNativeSeparators(outputDir)));
        return;
    }
    if (isClaimed(outputName)) {
        outputName = numberedOutputName(outputName, [this](const QString &candidate) {
            return isClaimed(candidate) || QFile::exists(outputPathFor(candidate));
        });
    } else if (QFile::exists(outputPathFor(outputName))) {
        askedName = outputName;
        question.ask(&worker, outputName);
        return;
    }
    ++nextToStart;
    claim(outputName);
    startTool(index, outputName);
}

void QueueRun::startTool(int index, const QString &outputName)
{
    auto tool = std::make_unique<ToolProcess>(encoderToolPath(),
                                              conversionArguments(inputs.at(index), quality, outputPathFor(outputName)),
                                              [index](uint seconds) { postProgress(index, seconds); });
    if (!tool->start()) {
        decide(index, false, outputName, tool->failureReason());
        return;
    }
    running.push_back({index, outputName, std::move(tool)});
}

void QueueRun::pollTools(int waitMs)
{
    for (auto it = running.begin(); it != running.end();) {
        ToolProcess &tool = *it->tool;
        const bool ended = tool.poll(it == running.begin() ? waitMs : 0);
        if (ended) {
            // The marker alone is not enough: a tool that crashes or fails
            // after printing it has not left a finished MP3 behind.
            const bool success = tool.exitedCleanly() && isSuccessOutput(toolOutputText(tool.standardOutput()));
            decide(it->index, success, it->outputName, success ? QString() : tool.failureReason());
        } else if (tool.hasStalled(stallTimeoutMs)) {
            stopTools({&tool});
            decide(it->index, false, it->outputName,
                   ConversionThread::tr("the encoder tool wrote nothing for %n second(s) and was stopped", "",
                                        qMax(1, stallTimeoutMs / 1000)));
        } else {
            ++it;
            continue;
        }
        it = running.erase(it);
    }
}

void QueueRun::decide(int index, bool success, const QString &outputName, const QString &failureReason)
{
    outcomes[size_t(index)] = {true, success};
    worker.storeResult(index, {outputName, failureReason});
}

void QueueRun::reportInOrder()
{
    while (nextToReport < count() && outcomes[size_t(nextToReport)].decided && !stopped()) {
        const int index = nextToReport++;
        worker.currentIndex = nextToReport;
        emit worker.fileCompleted(index, outcomes[size_t(index)].success);
    }
}

// A stopped run reports nothing more; its tools remove their partial output.
void QueueRun::stopAll()
{
    std::vector<ToolProcess *> tools;
    for (const Running &entry : running)
        tools.push_back(entry.tool.get());
    stopTools(tools);
    running.clear();
    question.close();
}

ConversionThread::ConversionThread(QObject *parent)
    : QThread(parent)
{
    currentWorker = this;
}

ConversionThread::~ConversionThread()
{
    requestStop();
    wait();
    // The results are the run's, guarded by their lock to the last.
    {
        std::lock_guard<std::mutex> lock(resultsLock);
        results = {};
    }
    if (currentWorker == this)
        currentWorker = nullptr;
}

void ConversionThread::requestStop()
{
    stopRequested.store(true);
}

ConversionThread::FileResult ConversionThread::resultOf(int index) const
{
    std::lock_guard<std::mutex> lock(resultsLock);
    return results.value(index);
}

void ConversionThread::storeResult(int index, const FileResult &result)
{
    std::lock_guard<std::mutex> lock(resultsLock);
    if (index >= 0 && index < results.size())
        results[index] = result;
}

void ConversionThread::run()
{
    if (isStopRequested() || !inputList || inputList->isEmpty() || !nameList)
        return;
    QueueRun(*this).execute();
}
