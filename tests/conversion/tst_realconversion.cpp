// The conversion worker driving our real encoder tool on generated audio:
// a queue with an existing output and a file that cannot be decoded, an MP3
// converted onto itself, and a stop in the middle of a long conversion.

#include "workerharness.h"

#include "audiofixtures.h"
#include "encodertool.h"
#include "progressbridge.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

using namespace harness;

namespace {

const QByteArray kOldContent = QByteArrayLiteral("an older file that must survive");

QString makeTone(const QString &path, double seconds, int channels = 2)
{
    fixtures::Tone tone;
    tone.seconds = seconds;
    tone.channels = channels;
    QString error;
    return fixtures::makeTone(path, tone, &error) ? QString() : error;
}

// Every progress report must come before its file is reported done (and
// after the question about its output, if there was one), grow within its
// file and stay within the file's length.
QString progressFault(const QStringList &log, const QList<int> &lengths, const QHash<int, QString> &asked = {})
{
    QHash<int, uint> lastSeconds;
    QSet<int> done;
    for (const QString &entry : log) {
        const QStringList parts = entry.split(' ');
        if (parts.first() == "done") {
            done.insert(parts.at(1).toInt());
        } else if (parts.first() == "progress") {
            const int index = parts.at(1).toInt();
            const uint seconds = parts.at(2).toUInt();
            const bool beforeQuestion = asked.contains(index) && !log.mid(0, log.indexOf(entry)).contains(asked[index]);
            if (done.contains(index) || beforeQuestion || seconds < lastSeconds.value(index)
                || int(seconds) > lengths.value(index))
                return "out of place: " + entry + " in " + log.join(", ");
            lastSeconds[index] = seconds;
        }
    }
    return QString();
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class TestRealConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { setEncoderToolPath(realEncoder()); }
    void cleanup() { setEncoderToolPath(QString()); }

    void convertsQueueAndAsksBeforeOverwriting();
    void convertsMp3OntoItself();
    void stopLeavesNothingBehind();
};

void TestRealConversion::initTestCase()
{
    registerProgressMessage();
    installProgressMessageFilter(QCoreApplication::instance());

    // Without a working tool every case below fails for the same reason:
    // say so once, plainly.
    QTemporaryDir dir;
    const QString input = dir.filePath("check.wav");
    QCOMPARE(makeTone(input, 1.0), QString());
    QProcess tool;
    tool.start(realEncoder(), conversionArguments(input, 50, dir.filePath("check.mp3")));
    QVERIFY2(tool.waitForFinished(60000), "the encoder tool did not end");
    QVERIFY2(isSuccessOutput(toolOutputText(tool.readAllStandardOutput())),
             qPrintable("the encoder tool does not convert a WAV: " + tool.readAllStandardError()));
}

void TestRealConversion::convertsQueueAndAsksBeforeOverwriting()
{
    Job job({"a.wav", "b.flac", "junk.wav"});
    QCOMPARE(makeTone(job.inputPath(0), 2.0), QString());
    QCOMPARE(makeTone(job.inputPath(1), 3.0, 1), QString());
    QByteArray junk(64 * 1024, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);
    QVERIFY(writeFile(job.inputPath(2), junk));
    const QString outA = job.outputDir() + "a.mp3";
    const QString outB = job.outputDir() + "b.mp3";
    QVERIFY(writeFile(outB, kOldContent));
    job.worker.quality = 30;

    // First run: the existing b.mp3 is overwritten.
    job.recorder.answer = [](const QString &) { return true; };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(3, 120000));
    QCOMPARE(job.recorder.completions(), QStringList({"done 0 ok", "done 1 ok", "done 2 fail"}));
    QCOMPARE(job.recorder.log.filter(QRegularExpression("^exists")), QStringList{"exists b.mp3"});
    const QString fault = progressFault(job.recorder.log, {2, 3, 0}, {{1, "exists b.mp3"}});
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(job.recorder.log.filter(QRegularExpression("^progress 1 ")).size() >= 1);
    QCOMPARE(qRound(fixtures::decodedDuration(outA) * 10), 20);
    QCOMPARE(qRound(fixtures::decodedDuration(outB) * 10), 30);
    QCOMPARE(folderEntries(job.outputDir()), QStringList({"a.mp3", "b.mp3"})); // no leftovers

    // Second run: both outputs exist now and are kept.
    const QByteArray convertedA = readFile(outA);
    const QByteArray convertedB = readFile(outB);
    QVERIFY(job.worker.wait(5000));
    job.recorder.log.clear();
    job.recorder.answer = [](const QString &) { return false; };
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(3, 60000));
    QCOMPARE(job.recorder.log, QStringList({"exists a.mp3", "done 0 fail", "exists b.mp3", "done 1 fail",
                                            "done 2 fail"}));
    QCOMPARE(readFile(outA), convertedA);
    QCOMPARE(readFile(outB), convertedB);
}

void TestRealConversion::convertsMp3OntoItself()
{
    Job job({"song.mp3"});
    const QString song = job.outputDir() + "song.mp3";
    job.inputs[0] = song; // the input lies in the output folder
    QCOMPARE(makeTone(song, 4.0), QString());
    const QByteArray original = readFile(song);
    job.recorder.answer = [](const QString &) { return true; };

    // Watch the file for the whole run: it must never be missing.
    bool wasMissing = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] { wasMissing = wasMissing || !QFile::exists(song); });
    watch.start(2);
    job.worker.start();
    QVERIFY(job.recorder.waitForCompletions(1, 60000));
    watch.stop();

    QCOMPARE(job.recorder.completions(), QStringList{"done 0 ok"});
    QVERIFY(!wasMissing);
    QVERIFY(readFile(song) != original);
    QCOMPARE(qRound(fixtures::decodedDuration(song) * 10), 40);
    QCOMPARE(folderEntries(job.outputDir()), QStringList{"song.mp3"});
}

void TestRealConversion::stopLeavesNothingBehind()
{
    Job job({"long.wav"});
    QCOMPARE(makeTone(job.inputPath(0), 900.0, 1), QString());
    QElapsedTimer sinceStop;
    job.recorder.onEvent = [&] {
        // Stop once the tool is surely writing its temporary file.
        if (!sinceStop.isValid() && job.recorder.log.last().startsWith("progress ")) {
            sinceStop.start();
            job.worker.requestStop();
        }
    };
    job.worker.start();
    QTRY_VERIFY_WITH_TIMEOUT(sinceStop.isValid(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(job.worker.isFinished(), 10000);
    QVERIFY2(sinceStop.elapsed() < 2000, qPrintable(QString::number(sinceStop.elapsed())));
    QCoreApplication::processEvents();
    QCOMPARE(job.recorder.completions(), QStringList());
    QCOMPARE(folderEntries(job.outputDir()), QStringList());
}

QTEST_GUILESS_MAIN(TestRealConversion)
#include "tst_realconversion.moc"
