#pragma once

#include "conversionthread.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Helpers shared by the worker suites: the helper programs' paths, a receiver
// that records the worker's signals as the main window gets them, and a
// worker set up in a temporary folder.
namespace harness {

QString standin(const char *mode); // one of the stand-in tools
QString realEncoder();              // our encoder tool

// The process id the last stand-in wrote to pidFile; 0 while there is none.
qint64 readPid(const QString &pidFile);
// Every process id written to pidFile, in order.
QList<qint64> readPids(const QString &pidFile);
// True once the process is gone and reaped.
bool processGone(qint64 pid);

bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

// Receives the worker's signals in the GUI thread, connected as the window
// connects them (fileExists through a blocking queued call), and logs them
// in arrival order: "exists NAME", "progress INDEX SECONDS", "done INDEX ok|fail".
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(ConversionThread *worker);

    QStringList log;
    // Answers the overwrite question; when unset the answer is "no".
    std::function<bool(const QString &outputFile)> answer;
    // Called at every recorded signal, e.g. to check a file in between.
    std::function<void()> onEvent;

    QStringList completions() const; // the "done" entries only
    // Processes events until count files are reported (true) or the time is
    // up (false), so a wrong outcome fails at once instead of at the time-out.
    bool waitForCompletions(int count, int timeoutMs = 10000);

private slots:
    void onFileCompleted(int index, bool isSuccess);
    void onFileProgress(int index, uint completedDuration);
    void onFileExists(const QString &outputFile);

private:
    void record(const QString &entry);

    ConversionThread *worker;
};

// A worker with input paths in <tmp>/in/ and the output folder <tmp>/out/.
// The input files are not created: stand-ins do not read them.
struct Job
{
    explicit Job(const QStringList &fileNames);
    ~Job(); // stops the worker, answering questions still on their way

    QString inputPath(int index) const { return inputs.at(index); }
    QString outputDir() const { return dir.path() + QStringLiteral("/out/"); }
    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }

    QTemporaryDir dir;
    QStringList inputs;
    QStringList names;
    ConversionThread worker;
    Recorder recorder{&worker};
};

} // namespace harness
