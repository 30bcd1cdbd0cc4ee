// The conversion worker against stand-in tools that fail, crash, hang, talk
// slowly or record their arguments.

#include "workerharness.h"

#include "encodertool.h"
#include "progressbridge.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace harness;

namespace {

const QByteArray kOldContent = QByteArrayLiteral("an older file that must survive");

// Sets an environment variable for the stand-ins of one test and removes it
// again. Set before the worker starts, so no thread reads the environment
// while it changes.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name(name)
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { qunsetenv(name); }

private:
    const char *name;
};

QStringList nulSeparated(const QByteArray &bytes)
{
    QStringList words;
    for (const QByteArray &word : bytes.split('\0'))
        words << QString::fromUtf8(word);
    if (!words.isEmpty() && words.constLast().isEmpty())
        words.removeLast(); // after the last terminator
    return words;
}

} // namespace

class TestConversionThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void runWithoutFilesReportsNothing_data();
    void runWithoutFilesReportsNothing();
    void toolThatCannotStartFailsEveryFile();
    void toolOutcome_data();
    void toolOutcome();
    void silentToolIsEndedAfterStall_data();
    void silentToolIsEndedAfterStall();
    void progressReachesWindowInOrder();
    void toolInputIsClosed();
    void argumentsReachToolIntact_data();
    void argumentsReachToolIntact();
    void existingOutput_data();
    void existingOutput();
    void stopEndsRunningTool_data();
    void stopEndsRunningTool();
    void stopWhileAsking();
    void destroyingRunningWorker();
    void destroyingWorkerWithUndeliveredQuestion();
};

void TestConversionThread::initTestCase()
{
    registerProgressMessage();
    installProgressMessageFilter(QCoreApplication::instance());
}

void TestConversionThread::cleanup()
{
    setEncoderToolPath(QString());
}

void TestConversionThread::runWithoutFilesReportsNothing_data()
{
    QTest::addColumn<bool>("withInputs");
    QTest::addColumn<bool>("withNames");
    QTest::addColumn<bool>("filesQueued");
    QTest::addColumn<bool>("stoppedBefore");
    QTest::newRow("no input list") << false << true << true << false;
    QTest::newRow("no name list") << true << false << true << false;
    QTest::newRow("empty lists") << true << true << false << false;
    QTest::newRow("stopped worker") << true << true << true << true;
}

void TestConversionThread::runWithoutFilesReportsNothing()
{
    QFETCH(bool, withInputs);
    QFETCH(bool, withNames);
    QFETCH(bool, filesQueued);
    QFETCH(bool, stoppedBefore);
    setEncoderToolPath(standin("progress"));
    Job job(filesQueued ? QStringList{"a.wav", "b.wav"} : QStringList());
    if (!withInputs)
        job.worker.inputList = nullptr;
    if (!withNames)
        job.worker.nameList = nullptr;
    if (stoppedBefore)
        job.worker.requestStop();

    job.worker.start();
    QVERIFY(job.worker.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(job.recorder.log, QStringList());
    QVERIFY(!QFile::exists(job.outputDir() + "a.mp3"));
}

void TestConversionThread::toolThatCannotStartFailsEveryFile()
{
    Job job({"a.wav", "b.flac", "c.ogg"});
    setEncoderToolPath(job.path("missing/ffmpeg"));
    QElapsedTimer clock;
    clock.start();
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(3));
    QCOMPARE(job.recorder.log, QStringList({"done 0 fail", "done 1 fail", "done 2 fail"}));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(job.worker.currentIndex.load(), 3);
}

void TestConversionThread::toolOutcome_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("success");
    QTest::newRow("crash after the marker") << standin("crash") << false;
    QTest::newRow("no marker, exit 0") << standin("nomarker") << false;
    QTest::newRow("marker, then exit 3") << standin("failcode") << false;
    QTest::newRow("marker and exit 0") << standin("progress") << true;
}

void TestConversionThread::toolOutcome()
{
    QFETCH(QString, tool);
    QFETCH(bool, success);
    setEncoderToolPath(tool);
    Job job({"song.wav"});
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.completions(), QStringList{success ? "done 0 ok" : "done 0 fail"});
}

void TestConversionThread::silentToolIsEndedAfterStall_data()
{
    QTest::addColumn<QString>("tool");
    QTest::newRow("ends on SIGTERM") << standin("hang");
    QTest::newRow("ignores SIGTERM") << standin("stubborn");
}

void TestConversionThread::silentToolIsEndedAfterStall()
{
    QFETCH(QString, tool);
    setEncoderToolPath(tool);
    Job job({"a.wav", "b.wav"});
    ScopedEnv pidFile("MORVANE_STANDIN_PID_FILE", job.path("pid").toUtf8());
    job.worker.stallTimeoutMs = 300;
    job.worker.start();
    QTRY_VERIFY(readPid(job.path("pid")) > 0);
    const qint64 firstTool = readPid(job.path("pid"));
    // Each file fails on its own; the run goes on to the next one.
    QVERIFY(job.recorder.waitForCompletions(2));
    QCOMPARE(job.recorder.log, QStringList({"done 0 fail", "done 1 fail"}));
    QVERIFY(processGone(firstTool));
    QVERIFY(processGone(readPid(job.path("pid"))));
}

void TestConversionThread::progressReachesWindowInOrder()
{
    // The pauses add up to more than the stall time-out: a tool that keeps
    // reporting must not be taken for a hung one.
    setEncoderToolPath(standin("progress"));
    Job job({"a.wav", "b.wav"});
    ScopedEnv steps("MORVANE_STANDIN_STEPS", "4");
    ScopedEnv pause("MORVANE_STANDIN_PAUSE_MS", "150");
    job.worker.stallTimeoutMs = 400;
    job.worker.start();
    const QStringList expected{"progress 0 1", "progress 0 2", "progress 0 3", "progress 0 4", "done 0 ok",
                               "progress 1 1", "progress 1 2", "progress 1 3", "progress 1 4", "done 1 ok"};
    QVERIFY(job.recorder.waitForCompletions(2));
    QCOMPARE(job.recorder.log, expected);
    QCOMPARE(readFile(job.outputDir() + "b.mp3"), QByteArray("stand-in output\n"));
}

void TestConversionThread::toolInputIsClosed()
{
    // A tool that reads its input must see its end at once, not hang on it.
    setEncoderToolPath(standin("stdin"));
    Job job({"a.wav"});
    job.worker.stallTimeoutMs = 5000;
    QElapsedTimer clock;
    clock.start();
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.log, QStringList{"done 0 ok"});
    QVERIFY(clock.elapsed() < 4000);
}

void TestConversionThread::argumentsReachToolIntact_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("plain") << "song.wav" << "song.mp3";
    QTest::newRow("blanks and quotes") << "my  \"best\" song.wav" << "my  \"best\" song.mp3";
    QTest::newRow("placeholders") << "## > < ##.flac" << "## > < ##.mp3";
    QTest::newRow("shell text") << "$HOME $(id) `id` ; & | *.wav" << "$HOME $(id) `id` ; & | *.mp3";
    QTest::newRow("leading dash") << "-y -aq 0.wav" << "-y -aq 0.mp3";
    QTest::newRow("non-ASCII") << "Grüße 日本語.ogg" << "Grüße 日本語.mp3";
    QTest::newRow("line break") << "two\nlines.wav" << "two\nlines.mp3";
}

void TestConversionThread::argumentsReachToolIntact()
{
    QFETCH(QString, name);
    QFETCH(QString, outputName);
    setEncoderToolPath(standin("echoargs"));
    Job job({name});
    ScopedEnv argsFile("MORVANE_STANDIN_ARGS_FILE", job.path("args").toUtf8());
    job.worker.quality = 73;
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.log, QStringList{"done 0 ok"});
    const QStringList expected{"-i", job.inputPath(0), "-acodec", "libmp3lame",
                               "-aq", "73", job.outputDir() + outputName};
    QCOMPARE(nulSeparated(readFile(job.path("args"))), expected);
}

void TestConversionThread::existingOutput_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("answer"); // -1: nobody answers, 0: keep it, 1: overwrite
    QTest::addColumn<bool>("success");
    QTest::addColumn<QByteArray>("contentAfter");
    QTest::newRow("unanswered") << standin("progress") << -1 << false << kOldContent;
    QTest::newRow("keep") << standin("progress") << 0 << false << kOldContent;
    QTest::newRow("overwrite") << standin("progress") << 1 << true << QByteArray("stand-in output\n");
    QTest::newRow("overwrite, tool fails") << standin("nomarker") << 1 << false << kOldContent;
}

void TestConversionThread::existingOutput()
{
    QFETCH(QString, tool);
    QFETCH(int, answer);
    QFETCH(bool, success);
    QFETCH(QByteArray, contentAfter);
    setEncoderToolPath(tool);
    Job job({"song.wav"});
    QVERIFY(writeFile(job.outputDir() + "song.mp3", kOldContent));
    if (answer < 0)
        QObject::disconnect(&job.worker, &ConversionThread::fileExists, nullptr, nullptr);
    job.recorder.answer = [answer](const QString &) { return answer == 1; };
    job.worker.overwriteExisting = true; // an answer left over from earlier must not count

    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.completions(), QStringList{success ? "done 0 ok" : "done 0 fail"});
    if (answer >= 0)
        QCOMPARE(job.recorder.log.first(), QString("exists song.mp3"));
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), contentAfter);
}

void TestConversionThread::stopEndsRunningTool_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("ends on SIGTERM") << standin("hang") << 1000;
    QTest::newRow("ignores SIGTERM") << standin("stubborn") << toolcontract::kStopGraceMs + 2000;
}

void TestConversionThread::stopEndsRunningTool()
{
    QFETCH(QString, tool);
    QFETCH(int, maxMs);
    setEncoderToolPath(tool);
    Job job({"a.wav", "b.wav"});
    ScopedEnv pidFile("MORVANE_STANDIN_PID_FILE", job.path("pid").toUtf8());
    job.worker.start();
    QTRY_VERIFY(readPid(job.path("pid")) > 0);

    QElapsedTimer clock;
    clock.start();
    job.worker.requestStop();
    QTRY_VERIFY_WITH_TIMEOUT(job.worker.isFinished(), 10000);
    QVERIFY2(clock.elapsed() < maxMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(processGone(readPid(job.path("pid"))));
    QCoreApplication::processEvents();
    QCOMPARE(job.recorder.log, QStringList()); // a stopped run reports nothing
    QVERIFY(!QFile::exists(job.outputDir() + "a.mp3"));
}

void TestConversionThread::stopWhileAsking()
{
    setEncoderToolPath(standin("echoargs"));
    Job job({"song.wav", "other.wav"});
    ScopedEnv argsFile("MORVANE_STANDIN_ARGS_FILE", job.path("args").toUtf8());
    QVERIFY(writeFile(job.outputDir() + "song.mp3", kOldContent));
    job.recorder.answer = [&job](const QString &) {
        job.worker.requestStop(); // e.g. the window closes while the question is up
        return true;
    };
    job.worker.start();
    QTRY_VERIFY(job.worker.isFinished());
    QCoreApplication::processEvents();
    QCOMPARE(job.recorder.log, QStringList{"exists song.mp3"});
    QVERIFY(!QFile::exists(job.path("args"))); // the tool never ran
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), kOldContent);
}

void TestConversionThread::destroyingRunningWorker()
{
    setEncoderToolPath(standin("hang"));
    Job job({"a.wav"});
    ScopedEnv pidFile("MORVANE_STANDIN_PID_FILE", job.path("pid").toUtf8());
    auto worker = std::make_unique<ConversionThread>();
    Recorder recorder(worker.get());
    worker->inputList = &job.inputs;
    worker->nameList = &job.names;
    worker->outputDir = job.outputDir();
    worker->start();
    QTRY_VERIFY(readPid(job.path("pid")) > 0);

    QElapsedTimer clock;
    clock.start();
    const ConversionThread *destroyed = worker.get();
    worker.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(processGone(readPid(job.path("pid"))));
    QVERIFY(currentWorker != destroyed);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.log, QStringList());
}

void TestConversionThread::destroyingWorkerWithUndeliveredQuestion()
{
    // The event loop has ended (the window was closed) just as the worker
    // asked: the question sits in the GUI thread's queue and is never
    // delivered. Destroying the worker must not wait for an answer forever.
    setEncoderToolPath(standin("progress"));
    Job job({"song.wav"});
    QVERIFY(writeFile(job.outputDir() + "song.mp3", kOldContent));
    auto worker = std::make_unique<ConversionThread>();
    std::atomic<bool> asked{false};
    connect(worker.get(), &ConversionThread::fileExists, worker.get(),
            [&asked] { asked = true; }, Qt::DirectConnection);
    Recorder recorder(worker.get());
    worker->inputList = &job.inputs;
    worker->nameList = &job.names;
    worker->outputDir = job.outputDir();
    worker->start();
    // No QTRY here: processing events would deliver the question.
    QElapsedTimer clock;
    clock.start();
    while (!asked.load() && clock.elapsed() < 5000)
        QThread::yieldCurrentThread();
    QVERIFY(asked.load());

    clock.restart();
    worker.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCoreApplication::processEvents();
    QCOMPARE(recorder.log, QStringList());
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), kOldContent);
}

QTEST_GUILESS_MAIN(TestConversionThread)
#include "tst_conversionthread.moc"
