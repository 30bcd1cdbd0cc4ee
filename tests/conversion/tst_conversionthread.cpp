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
    void toolsRunAtOnceAndReportInQueueOrder();
    void questionComesInQueueOrderWhileOthersRun();
    void laterFileNeverReplacesOutputOfSameRun();
    void missingOutputFolderIsTheReason();
    void folderTreesAreKept();
    void failedFileLeavesItsName_data();
    void failedFileLeavesItsName();
    void sameAnswerForTheRest_data();
    void sameAnswerForTheRest();
    void partialFileOfDeadToolIsRemoved_data();
    void partialFileOfDeadToolIsRemoved();
    void completeAlbumGetsGainAndPlaylist_data();
    void completeAlbumGetsGainAndPlaylist();
    void lastFileGetsTheFreeThreads();
    void toolInputIsClosed();
    void argumentsReachToolIntact_data();
    void argumentsReachToolIntact();
    void existingOutput_data();
    void existingOutput();
    void stopEndsRunningTool_data();
    void stopEndsRunningTool();
    void stopWhileAsking();
    void destroyingRunningWorker();
    void droppedQuestionReleasesWorker();
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
    QTest::addColumn<QString>("reason");
    QTest::newRow("crash after the marker") << standin("crash") << false
                                            << "the encoder tool was ended by signal SIGABRT (Aborted)";
    QTest::newRow("no marker, exit 0") << standin("nomarker") << false
                                       << "the encoder tool did not report a finished MP3";
    QTest::newRow("marker, then exit 3") << standin("failcode") << false
                                         << "the encoder tool failed without giving a reason (exit code 3)";
    QTest::newRow("marker and exit 0") << standin("progress") << true << "";
}

void TestConversionThread::toolOutcome()
{
    QFETCH(QString, tool);
    QFETCH(bool, success);
    QFETCH(QString, reason);
    setEncoderToolPath(tool);
    Job job({"song.wav"});
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.completions(), QStringList{success ? "done 0 ok" : "done 0 fail"});
    QCOMPARE(job.worker.resultOf(0).failureReason, reason);
    QCOMPARE(job.worker.resultOf(0).outputName, QString("song.mp3"));
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
    job.worker.maxTools = 2;
    job.worker.start();
    // Each file fails on its own, whether its tool ran beside the other's or
    // after it.
    QVERIFY(job.recorder.waitForCompletions(2));
    QCOMPARE(job.recorder.log, QStringList({"done 0 fail", "done 1 fail"}));
    QVERIFY(job.worker.resultOf(1).failureReason.contains("wrote nothing"));
    const QList<qint64> tools = readPids(job.path("pid"));
    QCOMPARE(tools.size(), 2);
    for (const qint64 pid : tools)
        QVERIFY(processGone(pid));
}

void TestConversionThread::toolsRunAtOnceAndReportInQueueOrder()
{
    // The first file takes ten times as long as the others: three tools run
    // at once, the later files end first, and yet every file is reported in
    // queue order, each after its own progress. The pauses add up to more
    // than the stall time-out: a tool that keeps reporting is not hung.
    setEncoderToolPath(standin("progress"));
    Job job({"slow.wav", "a.wav", "b.wav", "c.wav"});
    ScopedEnv steps("MORVANE_STANDIN_STEPS", "4");
    ScopedEnv pause("MORVANE_STANDIN_PAUSE_MS", "40");
    ScopedEnv slow("MORVANE_STANDIN_SLOW_INPUT", "slow");
    job.worker.maxTools = 3;
    job.worker.stallTimeoutMs = 1000;
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(4));
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 ok", "done 1 ok", "done 2 ok", "done 3 ok"}));
    const QStringList &log = job.recorder.log;
    QVERIFY2(log.indexOf("progress 1 4") < log.indexOf("progress 0 4"), qPrintable(log.join(", ")));
    for (int file = 0; file < 4; ++file) {
        QStringList own;
        for (const QString &entry : log) {
            if (entry.startsWith(QString("progress %1 ").arg(file)) || entry.startsWith(QString("done %1 ").arg(file)))
                own << entry;
        }
        const QString p = QString("progress %1 ").arg(file);
        QCOMPARE(own, QStringList({p + "1", p + "2", p + "3", p + "4", QString("done %1 ok").arg(file)}));
    }
    QCOMPARE(job.worker.currentIndex.load(), 4);
}

void TestConversionThread::questionComesInQueueOrderWhileOthersRun()
{
    // The question about the second file's output comes while the first
    // file converts, and before the second file's tool starts; the first
    // file finishes and is reported while the question is still open.
    setEncoderToolPath(standin("progress"));
    Job job({"slow.wav", "song.wav", "after.wav"});
    ScopedEnv pause("MORVANE_STANDIN_PAUSE_MS", "30");
    ScopedEnv slow("MORVANE_STANDIN_SLOW_INPUT", "slow");
    QVERIFY(writeFile(job.outputDir() + "song.mp3", kOldContent));
    job.worker.maxTools = 3;
    QStringList logWhenAsked;
    bool firstDoneWhileAsking = false;
    job.recorder.answer = [&](const QString &) {
        logWhenAsked = job.recorder.log;
        firstDoneWhileAsking = QTest::qWaitFor([&] { return job.recorder.log.contains("done 0 ok"); }, 10000);
        return true;
    };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(3));
    QVERIFY2(firstDoneWhileAsking, qPrintable(job.recorder.log.join(", ")));
    QCOMPARE(logWhenAsked.filter(QRegularExpression("^(exists|progress [12]|done)")),
             QStringList{"exists song.mp3"});
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 ok", "done 1 ok", "done 2 ok"}));
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), QByteArray("stand-in output\n"));
}

void TestConversionThread::laterFileNeverReplacesOutputOfSameRun()
{
    // song.wav and Song.aif both map to song.mp3 (as far as a file system
    // that ignores case is concerned): the second becomes the first free
    // "Song (N).mp3" without a question, passing over one that was there
    // before the run. An output that was there before is asked about as
    // always.
    setEncoderToolPath(standin("progress"));
    Job job({"song.wav", "Song.aif", "take.flac"});
    QVERIFY(writeFile(job.outputDir() + "Song (2).mp3", kOldContent));
    QVERIFY(writeFile(job.outputDir() + "take.mp3", kOldContent));
    job.worker.maxTools = 2;
    job.recorder.answer = [](const QString &) { return false; };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(3));
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 ok", "done 1 ok", "done 2 fail"}));
    QCOMPARE(job.recorder.log.filter(QRegularExpression("^exists")), QStringList{"exists take.mp3"});
    QCOMPARE(job.worker.resultOf(1).outputName, QString("Song (3).mp3"));
    QCOMPARE(job.worker.resultOf(2).failureReason, QString("kept the existing take.mp3"));
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), QByteArray("stand-in output\n"));
    QCOMPARE(readFile(job.outputDir() + "Song (3).mp3"), QByteArray("stand-in output\n"));
    QCOMPARE(readFile(job.outputDir() + "Song (2).mp3"), kOldContent);
    QCOMPARE(readFile(job.outputDir() + "take.mp3"), kOldContent);
}

void TestConversionThread::missingOutputFolderIsTheReason()
{
    setEncoderToolPath(standin("echoargs"));
    Job job({"a.wav"});
    ScopedEnv argsFile("MORVANE_STANDIN_ARGS_FILE", job.path("args").toUtf8());
    job.worker.outputDir = job.path("gone/");
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1));
    QCOMPARE(job.recorder.completions(), QStringList{"done 0 fail"});
    QCOMPARE(job.worker.resultOf(0).failureReason, "the output folder " + job.path("gone/") + " does not exist");
    QVERIFY(!QFile::exists(job.path("args"))); // no tool was started for it
}

void TestConversionThread::folderTreesAreKept()
{
    // Files from added folders go below the output folder at their paths;
    // the numbering of a clash stays within a folder; a folder the run made
    // for a file that failed goes again, one that was there before stays.
    setEncoderToolPath(standin("progress"));
    Job job({"Music/A/song.wav", "Music/A/Song.flac", "Music/B/song.wav", "Music/C/bad.wav", "Old/bad2.wav",
             "top.wav"});
    ScopedEnv fail("MORVANE_STANDIN_FAIL_INPUT", "bad");
    QVERIFY(QDir().mkpath(job.outputDir() + "Old"));
    job.worker.maxTools = 2;
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(6));
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 ok", "done 1 ok", "done 2 ok", "done 3 fail",
                                                      "done 4 fail", "done 5 ok"}));
    QCOMPARE(job.worker.resultOf(1).outputName, QString("Music/A/Song (2).mp3"));
    for (const char *output : {"Music/A/song.mp3", "Music/A/Song (2).mp3", "Music/B/song.mp3", "top.mp3"})
        QCOMPARE(readFile(job.outputDir() + output), QByteArray("stand-in output\n"));
    QTRY_VERIFY(job.worker.isFinished());
    QVERIFY(!QFileInfo::exists(job.outputDir() + "Music/C"));
    QVERIFY(QFileInfo(job.outputDir() + "Old").isDir());
}

void TestConversionThread::failedFileLeavesItsName_data()
{
    QTest::addColumn<int>("tools");
    QTest::newRow("one after the other") << 1;
    QTest::newRow("at once") << 2; // the second ends first, numbered, and is renamed
}

void TestConversionThread::failedFileLeavesItsName()
{
    QFETCH(int, tools);
    setEncoderToolPath(standin("progress"));
    Job job({"trunc.wav", "trunc.ogg"});
    ScopedEnv fail("MORVANE_STANDIN_FAIL_INPUT", "trunc.wav");
    ScopedEnv slow("MORVANE_STANDIN_SLOW_INPUT", "trunc.wav");
    job.worker.maxTools = tools;
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(2));
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 fail", "done 1 ok"}));
    QCOMPARE(job.worker.resultOf(1).outputName, QString("trunc.mp3"));
    QCOMPARE(QDir(job.outputDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"trunc.mp3"});
}

void TestConversionThread::sameAnswerForTheRest_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("overwrite all") << true;
    QTest::newRow("keep all") << false;
}

void TestConversionThread::sameAnswerForTheRest()
{
    QFETCH(bool, overwrite);
    setEncoderToolPath(standin("progress"));
    Job job({"a.wav", "b.wav", "new.wav", "c.wav"});
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QVERIFY(writeFile(job.outputDir() + name, kOldContent));
    job.recorder.answer = [&](const QString &) {
        job.worker.sameAnswerForRest = true;
        return overwrite;
    };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(4));
    QCOMPARE(job.recorder.log.filter(QRegularExpression("^exists")), QStringList{"exists a.mp3"});
    const auto expected = overwrite ? ConversionThread::Outcome::Converted : ConversionThread::Outcome::Kept;
    for (const int index : {0, 1, 3})
        QCOMPARE(job.worker.resultOf(index).outcome, expected);
    QCOMPARE(job.worker.resultOf(2).outcome, ConversionThread::Outcome::Converted);
    QCOMPARE(readFile(job.outputDir() + "c.mp3"), overwrite ? QByteArray("stand-in output\n") : kOldContent);
}

void TestConversionThread::partialFileOfDeadToolIsRemoved_data()
{
    QTest::addColumn<bool>("stall");
    QTest::newRow("stopped as hung") << true;
    QTest::newRow("run stopped") << false;
}

void TestConversionThread::partialFileOfDeadToolIsRemoved()
{
    // Where the tool cannot write an unnamed file, it writes a hidden one
    // and names it; a tool that dies cannot remove it, so the worker does.
    QFETCH(bool, stall);
    setEncoderToolPath(standin("hang"));
    Job job({"Album/a.wav"});
    ScopedEnv partial("MORVANE_STANDIN_PARTIAL", "1");
    job.worker.stallTimeoutMs = stall ? 300 : 60000;
    QVERIFY(writeFile(job.outputDir() + ".keep", kOldContent));
    job.worker.start();
    QTRY_VERIFY(QFileInfo::exists(job.outputDir() + "Album/.a.mp3.partial"));
    if (!stall)
        job.worker.requestStop();
    QTRY_VERIFY_WITH_TIMEOUT(job.worker.isFinished(), 10000);
    QVERIFY(!QFileInfo::exists(job.outputDir() + "Album"));
    QCOMPARE(QDir(job.outputDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{".keep"});
}

void TestConversionThread::completeAlbumGetsGainAndPlaylist_data()
{
    QTest::addColumn<bool>("wholeFolderQueued");
    QTest::addColumn<bool>("foreignPlaylist");
    QTest::newRow("whole album") << true << false;
    QTest::newRow("part of the album") << false << false;
    QTest::newRow("a playlist of the user's") << true << true;
}

void TestConversionThread::completeAlbumGetsGainAndPlaylist()
{
    // Once every file of an album folder has converted, the album gain tool
    // gets the MP3s and their loudness, before the run's last report; the
    // folder gets a playlist, unless one of the user's has its name. A file
    // of the folder that is not queued keeps its inputs' own album gain.
    QFETCH(bool, wholeFolderQueued);
    QFETCH(bool, foreignPlaylist);
    setEncoderToolPath(standin("progress"));
    Job job({"Best/02 two.wav", "Best/01 one.wav"});
    ScopedEnv album("MORVANE_STANDIN_ALBUM", "Best Of");
    ScopedEnv note("MORVANE_STANDIN_NOTE", "0.08 s could not be decoded");
    ScopedEnv argsFile("MORVANE_STANDIN_ARGS_FILE", job.path("album").toUtf8());
    // The inputs lie in one folder, as the names say.
    job.inputs = QStringList{job.path("in/Best/02 two.wav"), job.path("in/Best/01 one.wav")};
    QVERIFY(QDir().mkpath(job.path("in/Best")));
    for (const QString &input : std::as_const(job.inputs))
        QVERIFY(writeFile(input, "audio"));
    if (!wholeFolderQueued)
        QVERIFY(writeFile(job.path("in/Best/03 three.flac"), "audio"));
    const QString playlist = job.outputDir() + "Best/Best.m3u8";
    if (foreignPlaylist)
        QVERIFY(QDir().mkpath(job.outputDir() + "Best") && writeFile(playlist, "#EXTM3U\nmine.mp3\n"));
    QByteArray albumCallAtLastReport = "none";
    job.recorder.onEvent = [&] {
        if (job.recorder.log.last() == "done 1 ok")
            albumCallAtLastReport = readFile(job.path("album"));
    };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(2));
    const QString out = job.outputDir() + "Best/";
    const QByteArray call = "-album-gain\n" + (out + "02 two.mp3\n" + out + "01 one.mp3\n").toUtf8()
                            + "02 two.wav\n01 one.wav\n--\n";
    QCOMPARE(albumCallAtLastReport, wholeFolderQueued ? call : QByteArray());
    QCOMPARE(job.worker.resultOf(0).notes, QStringList{"0.08 s could not be decoded"});
    QCOMPARE(readFile(playlist), foreignPlaylist ? QByteArray("#EXTM3U\nmine.mp3\n")
                                                 : QByteArray("#EXTM3U\n# Written by Morvane; it replaces this list "
                                                              "when it converts the folder again.\n"
                                                              "#PLAYLIST:Best Of\n#EXTINF:61,02 two.wav\n02 two.mp3\n"
                                                              "#EXTINF:61,01 one.wav\n01 one.mp3\n"));
    QCOMPARE(job.worker.runNotes().size(), foreignPlaylist ? 1 : 0);
}

void TestConversionThread::lastFileGetsTheFreeThreads()
{
    // While files wait, every tool runs alone; once the last has started,
    // the slot of each tool that ends goes to those still running.
    setEncoderToolPath(standin("progress"));
    Job job({"quick.wav", "slow.wav"});
    ScopedEnv slow("MORVANE_STANDIN_SLOW_INPUT", "slow");
    ScopedEnv tokens("MORVANE_STANDIN_TOKENS_FILE", job.path("tokens").toUtf8());
    job.worker.maxTools = 2;
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(2));
    QCOMPARE(readFile(job.path("tokens")), QByteArray("0\n1\n"));
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
    if (answer <= 0)
        QCOMPARE(job.worker.resultOf(0).failureReason, QString("kept the existing song.mp3"));
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
    Job job({"a.wav", "b.wav", "c.wav"});
    ScopedEnv pidFile("MORVANE_STANDIN_PID_FILE", job.path("pid").toUtf8());
    job.worker.maxTools = 2;
    job.worker.start();
    QTRY_COMPARE(readPids(job.path("pid")).size(), 2);

    // Both running tools end, together within the time one is allowed.
    QElapsedTimer clock;
    clock.start();
    job.worker.requestStop();
    QTRY_VERIFY_WITH_TIMEOUT(job.worker.isFinished(), 10000);
    QVERIFY2(clock.elapsed() < maxMs, qPrintable(QString::number(clock.elapsed())));
    for (const qint64 pid : readPids(job.path("pid")))
        QVERIFY(processGone(pid));
    QCOMPARE(readPids(job.path("pid")).size(), 2);
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

void TestConversionThread::droppedQuestionReleasesWorker()
{
    // The event loop has ended (the window was closed) just as the worker
    // asked: the question sits in the GUI thread's queue and is never
    // delivered. Its receiver drops it, as the window does when it goes, and
    // the worker then ends without overwriting; nothing else queued is lost.
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
    bool otherCallDelivered = false;
    QMetaObject::invokeMethod(this, [&] { otherCallDelivered = true; }, Qt::QueuedConnection);
    worker->start();
    // No QTRY here: processing events would deliver the question.
    QElapsedTimer clock;
    clock.start();
    while (!asked.load() && clock.elapsed() < 5000)
        QThread::yieldCurrentThread();
    QVERIFY(asked.load());

    worker->requestStop();
    while (!worker->wait(20))
        QCoreApplication::removePostedEvents(&recorder, QEvent::MetaCall);
    worker.reset();
    QCoreApplication::processEvents();
    QVERIFY(otherCallDelivered);
    QCOMPARE(recorder.log, QStringList());
    QCOMPARE(readFile(job.outputDir() + "song.mp3"), kOldContent);
}

QTEST_GUILESS_MAIN(TestConversionThread)
#include "tst_conversionthread.moc"
