// Reading the probe's answer, and running the probe against our tool and
// against tools that are missing or hang.

#include "durationprobe.h"
#include "workerharness.h"

#include "audiofixtures.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace harness;

class TestDurationProbe : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void text_data();
    void text();
    void realToolMeasuresAudio_data();
    void realToolMeasuresAudio();
    void outputOfTheToolIsReturned();
    void missingToolAnswersAtOnce();
    void hangingToolIsKilledAfterTimeout();

private:
    QTemporaryDir dir;
};

void TestDurationProbe::parse_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("marked") << "$205$" << qint64(205);
    QTest::newRow("text around") << "Duration: $59$ s" << qint64(59);
    QTest::newRow("blanks inside") << "$ 42 $" << qint64(42);
    QTest::newRow("no marks") << "120\n" << qint64(120);
    QTest::newRow("one mark") << "x$ 17\n" << qint64(17);
    QTest::newRow("first and last mark") << "$1$2$" << qint64(0);
    QTest::newRow("zero") << "$0$" << qint64(0);
    QTest::newRow("negative") << "$-5$" << qint64(-5);
    QTest::newRow("plus sign") << "$+7$" << qint64(7);
    QTest::newRow("beyond 32 bits") << "$4294967301$" << qint64(4294967301LL);
    QTest::newRow("beyond 64 bits") << "$99999999999999999999$" << qint64(0);
    QTest::newRow("not a number") << "$abc$" << qint64(0);
    QTest::newRow("fraction") << "$3.5$" << qint64(0);
    QTest::newRow("empty between") << "$$" << qint64(0);
    QTest::newRow("nothing") << "" << qint64(0);
}

void TestDurationProbe::parse()
{
    QFETCH(QString, output);
    QFETCH(qint64, seconds);
    QCOMPARE(parseProbeOutput(output), seconds);
}

void TestDurationProbe::text_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("under a minute") << qint64(59) << "0:0:59";
    QTest::newRow("minutes") << qint64(205) << "0:3:25";
    QTest::newRow("one hour") << qint64(3600) << "1:0:0";
    QTest::newRow("no padding") << qint64(3661) << "1:1:1";
    QTest::newRow("mixed") << qint64(3903) << "1:5:3";
    QTest::newRow("ten hours") << qint64(36000) << "10:0:0";
    QTest::newRow("beyond 32 bits") << qint64(4294967301LL) << "1193046:28:21";
}

void TestDurationProbe::text()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(durationText(seconds), text);
}

void TestDurationProbe::realToolMeasuresAudio_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("length");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("3 s WAV") << "three.wav" << 3.0 << qint64(3);
    QTest::newRow("65 s WAV") << "long.wav" << 65.0 << qint64(65);
    QTest::newRow("7 s FLAC, odd name") << "a \"b\" ## $c$.flac" << 7.0 << qint64(7);
}

void TestDurationProbe::realToolMeasuresAudio()
{
    QFETCH(QString, name);
    QFETCH(double, length);
    QFETCH(qint64, seconds);
    const QString path = dir.filePath(name);
    fixtures::Tone tone;
    tone.seconds = length;
    QString error;
    QVERIFY2(fixtures::makeTone(path, tone, &error), qPrintable(error));

    const QString output = runDurationProbe(realEncoder(), path);
    QCOMPARE(parseProbeOutput(output), seconds);
}

void TestDurationProbe::outputOfTheToolIsReturned()
{
    qputenv("MORVANE_STANDIN_OUTPUT", "Duration: $59$ s\n");
    const QString output = runDurationProbe(standin("print"), dir.filePath("x.wav"));
    qunsetenv("MORVANE_STANDIN_OUTPUT");
    QCOMPARE(output, QString("Duration: $59$ s\n"));
}

void TestDurationProbe::missingToolAnswersAtOnce()
{
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runDurationProbe(dir.filePath("missing/ffmpeg"), dir.filePath("x.wav")), QString());
    QVERIFY(clock.elapsed() < 1000);
}

void TestDurationProbe::hangingToolIsKilledAfterTimeout()
{
    const QString pidFile = dir.filePath("pid");
    qputenv("MORVANE_STANDIN_PID_FILE", pidFile.toUtf8());
    QElapsedTimer clock;
    clock.start();
    const QString output = runDurationProbe(standin("stubborn"), dir.filePath("x.wav"), 300);
    const qint64 elapsed = clock.elapsed();
    qunsetenv("MORVANE_STANDIN_PID_FILE");

    QCOMPARE(output, QString());
    QVERIFY2(elapsed >= 300 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QVERIFY(processGone(readPid(pidFile)));
}

QTEST_GUILESS_MAIN(TestDurationProbe)
#include "tst_durationprobe.moc"
