// SPDX-License-Identifier: GPL-3.0-or-later
#include "queuerun.h"

#include "audioformats.h"
#include "encodertool.h"
#include "progressbridge.h"
#include "queuepaths.h"
#include "toolcontract.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

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

} // namespace

void OverwriteQuestion::ask(ConversionThread *worker, const QString &outputName, std::function<void()> onAnswered)
{
    answered.store(false);
    asker = std::thread([this, worker, outputName, onAnswered] {
        worker->overwriteExisting.store(false); // nobody answering means "do not overwrite"
        worker->sameAnswerForRest.store(false);
        emit worker->fileExists(outputName);
        overwrite.store(worker->overwriteExisting.load());
        forRest.store(worker->sameAnswerForRest.load());
        answered.store(true);
        onAnswered();
    });
}

OverwriteQuestion::Answer OverwriteQuestion::close()
{
    if (asker.joinable())
        asker.join();
    return {overwrite.load(), forRest.load()};
}

QueueRun::QueueRun(ConversionThread &worker)
    : worker(worker)
    , inputs(*worker.inputList)
    , names(*worker.nameList)
    , outputDir(worker.outputDir.isEmpty() || worker.outputDir.endsWith(QLatin1Char('/'))
                    ? worker.outputDir
                    : worker.outputDir + QLatin1Char('/'))
    , quality(worker.quality)
    , stallTimeoutMs(worker.stallTimeoutMs)
    , files(size_t(inputs.size()))
    , pool(worker.maxTools, [this](ToolTask &task) { return supply(task); })
{
    worker.currentIndex = 0;
    {
        std::lock_guard<std::mutex> lock(worker.resultsLock);
        worker.results = QVector<ConversionThread::FileResult>(inputs.size());
        worker.notes.clear();
    }
    QHash<QString, int> folderOf;
    for (int index = 0; index < count(); ++index) {
        File &file = files[size_t(index)];
        file.wantedOutput = outputPathForQueuePath(names.value(index, fileNameOfPath(inputs.at(index))));
        const QString inputFolder = QFileInfo(inputs.at(index)).absolutePath();
        const QString key = inputFolder + QLatin1Char('\n') + folderOfQueuePath(file.wantedOutput);
        auto it = folderOf.find(key);
        if (it == folderOf.end()) {
            it = folderOf.insert(key, int(folders.size()));
            folders.push_back({inputFolder, folderOfQueuePath(file.wantedOutput), {}, 0});
        }
        file.folder = *it;
        folders[size_t(*it)].files.append(index);
    }
    pool.useJobserver();
    connect(&pool, &ToolPool::taskEnded, this, &QueueRun::onTaskEnded);
    connect(&pool, &ToolPool::refilled, this, [this] {
        reportInOrder();
        finishIfDone();
    });
}

QueueRun::~QueueRun()
{
    if (!done)
        stop();
    disconnect(&pool, nullptr, this, nullptr);
    question.close();
}

void QueueRun::start()
{
    pool.refill();
}

// The pool's supplier: the next task, in queue order; an album's gain as
// soon as the album is complete.
ToolPool::Supply QueueRun::supply(ToolTask &task)
{
    if (stopped())
        return ToolPool::Supply::NoMore;
    for (;;) {
        if (!albumTasks.empty()) {
            task = std::move(albumTasks.front());
            albumTasks.erase(albumTasks.begin());
            return ToolPool::Supply::Task;
        }
        if (nextToStart >= count())
            return albumFolders.isEmpty() ? ToolPool::Supply::NoMore : ToolPool::Supply::NotNow;
        if (question.isOpen()) {
            if (!question.isAnswered())
                return ToolPool::Supply::NotNow; // the running tools go on meanwhile
            if (takeAnswer(task))
                return ToolPool::Supply::Task;
            continue;
        }
        // Files already decided are reported first, so the window sees
        // every outcome before it is asked about a later file.
        reportInOrder();
        if (prepare(nextToStart, task))
            return ToolPool::Supply::Task;
        if (question.isOpen())
            return ToolPool::Supply::NotNow;
    }
}

bool QueueRun::takeAnswer(ToolTask &task)
{
    const OverwriteQuestion::Answer answer = question.close();
    worker.questionIndex = -1;
    const int index = nextToStart++;
    if (stopped())
        return false;
    if (answer.forRest)
        answerForRest = answer.overwrite ? 1 : 0;
    if (!answer.overwrite) {
        decide(index, Outcome::Kept, askedName, ConversionThread::tr("kept the existing %1").arg(askedName));
        return false;
    }
    // The existing file stays until the tool has the new one complete and
    // renames it over the old one.
    return makeConversionTask(index, askedName, task);
}

// Names the file's output and makes its task, or opens the question about
// an output that was there before the run.
bool QueueRun::prepare(int index, ToolTask &task)
{
    QString outputName = files[size_t(index)].wantedOutput;
    if (!outputDir.isEmpty() && !QFileInfo(outputDir).isDir()) {
        ++nextToStart;
        decide(index, Outcome::Failed, outputName,
               ConversionThread::tr("the output folder %1 does not exist").arg(QDir::toNativeSeparators(outputDir)));
        return false;
    }
    if (isClaimed(outputName)) {
        outputName = numberedOutputPath(outputName, [this](const QString &candidate) {
            return isClaimed(candidate) || QFile::exists(absoluteOutput(candidate));
        });
    } else if (QFile::exists(absoluteOutput(outputName))) {
        if (answerForRest < 0) {
            askedName = outputName;
            worker.questionIndex = index;
            question.ask(&worker, outputName, [this] {
                QMetaObject::invokeMethod(this, [this] { pool.refill(); }, Qt::QueuedConnection);
            });
            return false;
        }
        if (answerForRest == 0) {
            ++nextToStart;
            decide(index, Outcome::Kept, outputName, ConversionThread::tr("kept the existing %1").arg(outputName));
            return false;
        }
    }
    ++nextToStart;
    return makeConversionTask(index, outputName, task);
}

bool QueueRun::makeConversionTask(int index, const QString &outputName, ToolTask &task)
{
    QString failure;
    if (!makeFolders(folderOfQueuePath(outputName), failure)) {
        decide(index, Outcome::Failed, outputName, failure);
        return false;
    }
    claim(outputName);
    files[size_t(index)].outputName = outputName;
    task.program = encoderToolPath();
    task.arguments = conversionArguments(inputs.at(index), quality, absoluteOutput(outputName));
    task.onProgress = [index](uint seconds) { postProgress(index, seconds); };
    task.stallTimeoutMs = stallTimeoutMs;
    task.id = index;
    task.kind = Conversion;
    return true;
}

void QueueRun::onTaskEnded(ToolProcess *tool)
{
    if (tool->died())
        removePartialFiles(*tool);
    if (stopped())
        return;
    const ToolTask &task = tool->task();
    if (task.kind == AlbumGain) {
        const QString folder = albumFolders.take(task.id);
        const bool written = tool->exitedCleanly() && isSuccessOutput(toolOutputText(tool->standardOutput()));
        if (!written)
            worker.addRunNote(ConversionThread::tr("%1: the album gain could not be written: %2").arg(folder, tool->failureReason()));
    } else {
        const int index = task.id;
        const QString outputName = files[size_t(index)].outputName;
        // The marker alone is not enough: a tool that crashes or fails after
        // printing it has not left a finished MP3 behind.
        const bool success = tool->exitedCleanly() && isSuccessOutput(toolOutputText(tool->standardOutput()));
        if (success) {
            files[size_t(index)].info = parseTrackInfo(tool->standardOutput());
            decide(index, Outcome::Converted, outputName, QString(), tool->errorLines().notes());
        } else if (tool->stalled()) {
            decide(index, Outcome::Failed, outputName,
                   ConversionThread::tr("the encoder tool wrote nothing for %n second(s) and was stopped", "",
                                        qMax(1, stallTimeoutMs / 1000)));
        } else {
            decide(index, Outcome::Failed, outputName, tool->failureReason());
        }
    }
    // The pool refills the tool's slot next, and then the outcome is reported.
}

void QueueRun::decide(int index, Outcome outcome, const QString &outputName, const QString &reason,
                      const QStringList &notes)
{
    File &file = files[size_t(index)];
    file.decided = true;
    file.outcome = outcome;
    file.outputName = outputName;
    // A file that failed leaves its name to the files after it.
    if (outcome == Outcome::Failed)
        release(outputName);
    worker.storeResult(index, {outputName, reason, notes, outcome});
    Folder &folder = folders[size_t(file.folder)];
    if (++folder.decided == folder.files.size())
        finishFolder(folder);
}

void QueueRun::reportInOrder()
{
    while (nextToReport < count() && files[size_t(nextToReport)].decided && !stopped()) {
        // The last file waits for the albums' gains: once it is reported,
        // the run is over for the window.
        if (nextToReport == count() - 1 && (!albumTasks.empty() || !albumFolders.isEmpty()))
            return;
        const int index = nextToReport++;
        if (files[size_t(index)].outcome == Outcome::Converted)
            moveToWantedName(index);
        worker.currentIndex = nextToReport;
        emit worker.fileCompleted(index, files[size_t(index)].outcome == Outcome::Converted);
    }
}

// A file that was numbered because an earlier file of the run held its name,
// which then failed, gets the name after all.
void QueueRun::moveToWantedName(int index)
{
    File &file = files[size_t(index)];
    if (file.outputName == file.wantedOutput || isClaimed(file.wantedOutput)
        || QFileInfo::exists(absoluteOutput(file.wantedOutput)))
        return;
    if (!QFile::rename(absoluteOutput(file.outputName), absoluteOutput(file.wantedOutput)))
        return;
    release(file.outputName);
    claim(file.wantedOutput);
    file.outputName = file.wantedOutput;
    ConversionThread::FileResult result = worker.resultOf(index);
    result.outputName = file.wantedOutput;
    worker.storeResult(index, result);
}

void QueueRun::finishIfDone()
{
    if (done || stopped() || nextToReport < count() || !pool.isIdle())
        return;
    done = true;
    removeFoldersLeftEmpty();
    emit finished();
}

void QueueRun::stop()
{
    if (done)
        return;
    stopping = true;
    done = true;
    pool.stopAll();
    question.close();
    removeFoldersLeftEmpty();
    emit finished();
}
