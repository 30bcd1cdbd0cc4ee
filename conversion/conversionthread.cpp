#include "conversionthread.h"

#include "encodertool.h"
#include "progressbridge.h"
#include "toolprocess.h"
#include "tsanannotations.h"

#include <QCoreApplication>
#include <QFile>

ConversionThread *currentWorker = nullptr;

namespace {

constexpr unsigned long kDestructorPollMs = 100;

// Hands one progress report to the GUI thread, where the filter installed on
// the application turns it into fileProgress. The event names the file it
// belongs to, so a report that arrives after the worker has moved on is not
// credited to the next file.
void postProgress(int fileIndex, uint completedSeconds)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (progressMessageId == 0 || !app)
        return;
    auto *event = new ProgressMessageEvent(completedSeconds, fileIndex);
    tsanRelease(event); // the filter reads it in the GUI thread
    QCoreApplication::postEvent(app, event);
}

} // namespace

ConversionThread::ConversionThread(QObject *parent)
    : QThread(parent)
{
    currentWorker = this;
}

ConversionThread::~ConversionThread()
{
    requestStop();
    while (!wait(kDestructorPollMs))
        dropUnansweredQuestion();
    tsanAcquire(this);
    if (currentWorker == this)
        currentWorker = nullptr;
}

void ConversionThread::requestStop()
{
    stopRequested.store(true);
}

void ConversionThread::run()
{
    tsanAcquire(this); // whatever an earlier run or the window did before start()
    convertQueue();
    tsanRelease(this); // for wait() and the destructor
}

void ConversionThread::convertQueue()
{
    if (isStopRequested() || !inputList || inputList->isEmpty() || !nameList)
        return;
    // Own copies (cheap, shared until written): once the last fileCompleted is
    // out, the window may clear its lists while this thread is still ending.
    const QStringList inputs = *inputList;
    const QStringList names = *nameList;
    currentIndex = 0;
    for (int index = 0; index < inputs.size() && !isStopRequested(); index = ++currentIndex) {
        const QString inputPath = inputs.at(index);
        const QString outputName = outputNameFor(names.value(index, fileNameOfPath(inputPath)));
        const QString outputPath = outputPathFor(outputName);
        // An existing output file is left in place: the tool replaces it only
        // once the new MP3 is complete, so a failed conversion keeps the old
        // file, and an MP3 converted onto itself is read before it is replaced.
        const bool mayWrite = !QFile::exists(outputPath) || askOverwrite(outputName);
        const bool success = mayWrite && convertOne(inputPath, outputPath);
        if (isStopRequested())
            return; // a stopped run reports nothing more
        emit fileCompleted(index, success);
    }
}

QString ConversionThread::outputPathFor(const QString &outputName) const
{
    QString folder = outputDir;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + outputName;
}

bool ConversionThread::askOverwrite(const QString &outputName)
{
    // The window's slot writes the answer before the blocking emission
    // returns; a question nobody answers means "do not overwrite".
    overwriteExisting = false;
    waitingForAnswer.store(true);
    tsanRelease(&overwriteExisting);
    emit fileExists(outputName);
    confirmAnswerOrdering();
    waitingForAnswer.store(false);
    return !isStopRequested() && overwriteExisting;
}

void ConversionThread::confirmAnswerOrdering()
{
#ifdef MORVANE_HAS_TSAN
    // The answering slot ran in the GUI thread before the emission returned,
    // ordered by a semaphore ThreadSanitizer cannot see. A second blocking
    // call, by name so that nothing of this thread's is read over there,
    // runs in the GUI thread after that slot and states the ordering.
    if (thread() == QThread::currentThread())
        return;
    tsanRelease(&overwriteExisting);
    QMetaObject::invokeMethod(this, "answerOrderingHandshake", Qt::BlockingQueuedConnection);
    tsanAcquire(&overwriteExisting);
#endif
}

void ConversionThread::answerOrderingHandshake()
{
    tsanRelease(&overwriteExisting);
}

bool ConversionThread::convertOne(const QString &inputPath, const QString &outputPath)
{
    const int index = currentIndex.load();
    ToolProcess tool(encoderToolPath(), conversionArguments(inputPath, quality, outputPath));
    const ToolProcess::End end = tool.run(stopRequested, stallTimeoutMs, [index](uint seconds) {
        postProgress(index, seconds);
    });
    if (end != ToolProcess::End::Finished) {
        tool.stop();
        return false;
    }
    // The marker alone is not enough: a tool that crashes or fails after
    // printing it has not left a finished MP3 behind.
    return tool.exitedCleanly() && isSuccessOutput(toolOutputText(tool.standardOutput()));
}

void ConversionThread::dropUnansweredQuestion()
{
    // The window answers fileExists through a blocking queued call in the GUI
    // thread, which is the thread running the destructor. A question still
    // waiting in that thread's event queue can no longer be delivered (and
    // must not be: its receiver is being torn down), so the worker would wait
    // for it forever. Removing the queued calls releases the worker, which
    // then reads "do not overwrite", sees the stop request and returns. Only
    // reached while a destroyed worker waits for an answer.
    if (waitingForAnswer.load())
        QCoreApplication::removePostedEvents(nullptr, QEvent::MetaCall);
}
