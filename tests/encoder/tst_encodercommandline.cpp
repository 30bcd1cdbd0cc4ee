// The tool's command line: the probe's "$seconds$", the two accepted
// argument shapes and quality values, and the progress lines.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace encodertool;

class TestEncoderCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void probe_data();
    void probe();
    void refusedArguments_data();
    void refusedArguments();
    void progressLines();

private:
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestEncoderCommandLine::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::makeTone(file("tone.wav")));
}

void TestEncoderCommandLine::probe_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("wav") << "a.wav" << 2.5 << QStringList() << QByteArray("$2$");
    QTest::newRow("wav, long") << "long.wav" << 205.9 << QStringList{"-ar", "8000"} << QByteArray("$205$");
    QTest::newRow("flac") << "a.flac" << 3.7 << QStringList() << QByteArray("$3$");
    QTest::newRow("mp3") << "a.mp3" << 2.5 << QStringList() << QByteArray("$2$");
    QTest::newRow("ogg vorbis") << "a.ogg" << 1.2 << QStringList{"-c:a", "libvorbis"} << QByteArray("$1$");
    QTest::newRow("opus") << "a.opus" << 2.5 << QStringList() << QByteArray("$2$");
    QTest::newRow("aac in m4a") << "a.m4a" << 2.5 << QStringList() << QByteArray("$2$");
    QTest::newRow("aiff, under a second") << "a.aiff" << 0.5 << QStringList() << QByteArray("$0$");
    // No length in the header: estimated from the stream.
    QTest::newRow("raw aac") << "a.aac" << 2.5 << QStringList() << QByteArray("$2$");
    QTest::newRow("mpeg-ts") << "a.ts" << 2.5 << QStringList() << QByteArray("$2$");
}

void TestEncoderCommandLine::probe()
{
    QFETCH(QString, name);
    QFETCH(double, seconds);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, expected);
    fixtures::Tone tone;
    tone.seconds = seconds;
    tone.channels = 1;
    tone.outputOptions = options;
    QVERIFY(fixtures::makeTone(file(name), tone));

    const Run run = encodertool::probe(file(name));
    QVERIFY2(run.finished && run.exitStatus == QProcess::NormalExit && run.exitCode == 0, qPrintable(run.describe()));
    QCOMPARE(run.out.trimmed(), expected);
    QCOMPARE(run.err, QByteArray());
}

void TestEncoderCommandLine::refusedArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString in = file("tone.wav");
    const QString out = file("out.mp3");
    const auto withQuality = [&](const QString &quality) {
        return QStringList{"-i", in, "-acodec", "libmp3lame", "-aq", quality, out};
    };

    QTest::newRow("nothing") << QStringList();
    QTest::newRow("-i alone") << QStringList{"-i"};
    QTest::newRow("path without -i") << QStringList{in};
    QTest::newRow("probe with more") << QStringList{"-i", in, out};
    QTest::newRow("other codec") << QStringList{"-i", in, "-acodec", "mp3", "-aq", "5", out};
    QTest::newRow("options swapped") << QStringList{"-i", in, "-aq", "5", "-acodec", "libmp3lame", out};
    QTest::newRow("stock quality option") << QStringList{"-i", in, "-acodec", "libmp3lame", "-q:a", "5", out};
    QTest::newRow("no output") << QStringList{"-i", in, "-acodec", "libmp3lame", "-aq", "5"};
    QTest::newRow("one too many") << withQuality("5") + QStringList{"x"};
    for (const QString &quality : {QString(), QStringLiteral("5x"), QStringLiteral("+5"), QStringLiteral(" 5"),
                                   QStringLiteral("5 "), QStringLiteral("-1"), QStringLiteral("100"),
                                   QStringLiteral("1e1"), QStringLiteral("0x5"), QStringLiteral("٣"),
                                   QStringLiteral("99999999999999999999")})
        QTest::addRow("quality \"%s\"", qPrintable(quality)) << withQuality(quality);
}

void TestEncoderCommandLine::refusedArguments()
{
    QFETCH(QStringList, arguments);
    const Run run = encodertool::run(arguments);
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QVERIFY(!run.out.contains('$'));
    QVERIFY(!QFile::exists(file("out.mp3")));
}

// "ProgressMessage <seconds>" on standard error, flushed line by line: 0
// first, then only when the whole seconds change, a few per second at most.
void TestEncoderCommandLine::progressLines()
{
    fixtures::Tone tone;
    tone.seconds = 60.0;
    QVERIFY(fixtures::makeTone(file("minute.flac"), tone));

    QProcess process;
    QByteArray err;
    bool arrivedWhileRunning = false;
    connect(&process, &QProcess::readyReadStandardError, [&] {
        arrivedWhileRunning = arrivedWhileRunning || process.state() == QProcess::Running;
        err += process.readAllStandardError();
    });
    QElapsedTimer timer;
    timer.start();
    process.start(path(), {"-i", file("minute.flac"), "-acodec", "libmp3lame", "-aq", "99", file("minute.mp3")});
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 60000);
    const qint64 elapsed = timer.elapsed();
    err += process.readAllStandardError();
    QVERIFY(process.readAllStandardOutput().contains("##success##"));
    QVERIFY(arrivedWhileRunning);

    QList<int> seconds;
    const QRegularExpression line(QStringLiteral("^ProgressMessage (\\d+)$"));
    for (const QString &text : QString::fromLatin1(err).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        seconds << match.captured(1).toInt();
    }
    QVERIFY2(seconds.size() >= 2, err.constData());
    QCOMPARE(seconds.first(), 0);
    for (int i = 1; i < seconds.size(); ++i)
        QVERIFY2(seconds[i] > seconds[i - 1] && seconds[i] <= 60, err.constData());
    QVERIFY2(seconds.size() <= elapsed / 200 + 2, qPrintable(QStringLiteral("%1 lines in %2 ms").arg(seconds.size()).arg(elapsed)));
}

QTEST_GUILESS_MAIN(TestEncoderCommandLine)
#include "tst_encodercommandline.moc"
