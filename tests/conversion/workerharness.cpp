#include "workerharness.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <csignal>

namespace harness {

QString standin(const char *mode)
{
    return QStringLiteral(MORVANE_STANDIN_DIR "/standin-") + QLatin1String(mode);
}

QString realEncoder()
{
    return QStringLiteral(MORVANE_ENCODER_TOOL);
}

qint64 readPid(const QString &pidFile)
{
    const QList<qint64> pids = readPids(pidFile);
    return pids.isEmpty() ? 0 : pids.last();
}

QList<qint64> readPids(const QString &pidFile)
{
    QList<qint64> pids;
    for (const QByteArray &line : readFile(pidFile).split('\n')) {
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    }
    return pids;
}

bool processGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Recorder::Recorder(ConversionThread *worker)
    : worker(worker)
{
    connect(worker, &ConversionThread::fileCompleted, this, &Recorder::onFileCompleted);
    connect(worker, &ConversionThread::fileProgress, this, &Recorder::onFileProgress);
    connect(worker, &ConversionThread::fileExists, this, &Recorder::onFileExists,
            Qt::BlockingQueuedConnection);
}

QStringList Recorder::completions() const
{
    return log.filter(QRegularExpression(QStringLiteral("^done ")));
}

bool Recorder::waitForCompletions(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return completions().size() >= count; }, timeoutMs);
}

void Recorder::onFileCompleted(int index, bool isSuccess)
{
    record(QStringLiteral("done %1 %2").arg(index).arg(QLatin1String(isSuccess ? "ok" : "fail")));
}

void Recorder::onFileProgress(int index, uint completedDuration)
{
    record(QStringLiteral("progress %1 %2").arg(index).arg(completedDuration));
}

void Recorder::onFileExists(const QString &outputFile)
{
    record(QStringLiteral("exists ") + outputFile);
    worker->overwriteExisting = answer ? answer(outputFile) : false;
}

void Recorder::record(const QString &entry)
{
    log << entry;
    if (onEvent)
        onEvent();
}

Job::Job(const QStringList &fileNames)
    : names(fileNames)
{
    QDir().mkpath(dir.path() + QStringLiteral("/in"));
    QDir().mkpath(outputDir());
    for (const QString &name : fileNames)
        inputs << dir.path() + QStringLiteral("/in/") + name;
    worker.inputList = &inputs;
    worker.nameList = &names;
    worker.outputDir = outputDir();
}

Job::~Job()
{
    worker.requestStop();
    while (!worker.wait(50))
        QCoreApplication::processEvents();
}

} // namespace harness
