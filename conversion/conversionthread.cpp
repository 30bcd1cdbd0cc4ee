// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionthread.h"

#include "queuerun.h"

#include <QEventLoop>

ConversionThread *currentWorker = nullptr;

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
        notes = {};
    }
    if (currentWorker == this)
        currentWorker = nullptr;
}

// The run sleeps in its event loop until a tool or the question has news,
// so a stop request wakes it with a call of its own.
void ConversionThread::requestStop()
{
    stopRequested.store(true);
    std::lock_guard<std::mutex> lock(runLock);
    if (activeRun)
        QMetaObject::invokeMethod(activeRun, [run = static_cast<QueueRun *>(activeRun)] { run->stop(); },
                                  Qt::QueuedConnection);
}

ConversionThread::FileResult ConversionThread::resultOf(int index) const
{
    std::lock_guard<std::mutex> lock(resultsLock);
    return results.value(index);
}

QStringList ConversionThread::runNotes() const
{
    std::lock_guard<std::mutex> lock(resultsLock);
    return notes;
}

void ConversionThread::storeResult(int index, const FileResult &result)
{
    std::lock_guard<std::mutex> lock(resultsLock);
    if (index >= 0 && index < results.size())
        results[index] = result;
}

void ConversionThread::addRunNote(const QString &note)
{
    std::lock_guard<std::mutex> lock(resultsLock);
    notes << note;
}

void ConversionThread::run()
{
    if (isStopRequested() || !inputList || inputList->isEmpty() || !nameList)
        return;
    QEventLoop loop;
    QueueRun queue(*this);
    QObject::connect(&queue, &QueueRun::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    {
        std::lock_guard<std::mutex> lock(runLock);
        activeRun = &queue;
    }
    // A stop asked for before the run could be woken.
    if (isStopRequested())
        queue.stop();
    else
        queue.start();
    loop.exec();
    std::lock_guard<std::mutex> lock(runLock);
    activeRun = nullptr;
}
