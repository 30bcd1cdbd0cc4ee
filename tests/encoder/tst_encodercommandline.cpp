// The tool's command line: the probe's "$seconds$", the list probe, the
// two accepted argument shapes and quality values, and the progress lines.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace encodertool;

namespace {

// The list probe's answers by index; an index answered twice or a line of
// another shape is an error.
QMap<int, QByteArray> probeAnswers(const QByteArray &out, QString &error)
{
    static const QRegularExpression shape(QStringLiteral("^Probe (\\d+) (\\$\\d+\\$|failed [^\\n]+)$"));
    QMap<int, QByteArray> answers;
    for (const QByteArray &line : out.split('\n')) {
        const QRegularExpressionMatch match = shape.match(QString::fromUtf8(line));
        if (line.isEmpty())
            continue;
        if (!match.hasMatch() || answers.contains(match.captured(1).toInt()))
            error += QStringLiteral("[%1] ").arg(QString::fromUtf8(line));
        answers[match.captured(1).toInt()] = match.captured(2).toUtf8();
    }
    return answers;
}

Run runProbeList(const QString &program, const QStringList &paths)
{
    QProcess process;
    process.start(program, {toolcontract::kProbeListOption});
    for (const QString &path : paths)
        process.write(QFile::encodeName(path) + '\0');
    process.closeWriteChannel();
    Run result;
    result.finished = process.waitForFinished(60000);
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

class TestEncoderCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void probe_data();
    void probe();
    void probeList();
    void probeListWhenTheConverterEnds();
    void probeListStops();
    void probeListWithClosedOutput();
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
    QVERIFY(fixtures::makeTone(file("list.flac")));
    QVERIFY(fixtures::makeTone(file("list.aac"))); // no stated length: the converter measures it
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

// Answered by the front (WAV, FLAC), by its converter (AAC without a
// stated length) and failed; each answer is the one "-i" gives, and the
// converter's own list gives the same answers.
void TestEncoderCommandLine::probeList()
{
    QVERIFY(QFile::copy(file("tone.wav"), file("odd\nname.wav")));
    QFile junk(file("junk\r\n.mp3"));
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("ID3 not really") > 0);
    junk.close();
    QVERIFY(QDir(dir.path()).mkdir("folder.wav"));
    const QStringList paths{file("tone.wav"), file("list.aac"), file("missing\n.wav"), file("list.flac"),
                            file("junk\r\n.mp3"), file("folder.wav"), file("odd\nname.wav"), file("list.aac"), ""};

    QMap<int, QByteArray> byTool[2];
    const QString programs[2] = {path(), converterPath()};
    for (int i = 0; i < 2; ++i) {
        const Run run = runProbeList(programs[i], paths);
        QVERIFY2(run.finished && run.exitStatus == QProcess::NormalExit && run.exitCode == 0, qPrintable(run.describe()));
        QString error;
        byTool[i] = probeAnswers(run.out, error);
        QVERIFY2(error.isEmpty() && byTool[i].size() == paths.size(), qPrintable(error + run.describe()));
        QCOMPARE(run.err, QByteArray());
    }
    QCOMPARE(byTool[0], byTool[1]);
    for (int index = 0; index < paths.size(); ++index) {
        const Run single = encodertool::probe(paths[index]);
        QCOMPARE(byTool[0][index].startsWith("failed "), single.exitCode != 0);
        if (single.exitCode == 0)
            QCOMPARE(byTool[0][index], single.out.trimmed());
    }
}

// A converter that crashes on a file fails that file alone: a new one
// measures the rest, their answers numbered as the list is. One that cannot
// be started fails only the files the front could not measure.
void TestEncoderCommandLine::probeListWhenTheConverterEnds()
{
    QTemporaryDir tool;
    QVERIFY(QFile::copy(path(), tool.filePath(toolcontract::kToolName)));
    QVERIFY(QFile::setPermissions(tool.filePath(toolcontract::kToolName), QFile::ReadOwner | QFile::ExeOwner));
    const QStringList paths{file("tone.wav"), "first", "crash", "second", file("tone.wav"), "third"};

    Run run = runProbeList(tool.filePath(toolcontract::kToolName), paths);
    QString error;
    QMap<int, QByteArray> answers = probeAnswers(run.out, error);
    QVERIFY2(error.isEmpty() && answers.size() == paths.size(), qPrintable(error + run.describe()));
    for (int index : {1, 2, 3, 5})
        QVERIFY2(answers[index].startsWith("failed cannot start the converter"), answers[index].constData());

    QFile converter(tool.filePath(toolcontract::kConverterName));
    QVERIFY(converter.open(QIODevice::WriteOnly));
    converter.write("#!/bin/bash\n"
                    "i=0; while IFS= read -r -d '' path; do\n"
                    "  [ \"$path\" != crash ] || kill -SEGV $$\n"
                    "  echo \"Probe $i \\$${#path}\\$\"; i=$((i + 1))\n"
                    "done\n");
    converter.close();
    QVERIFY(converter.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    run = runProbeList(tool.filePath(toolcontract::kToolName), paths);
    answers = probeAnswers(run.out, error);
    QVERIFY2(error.isEmpty() && answers.size() == paths.size(), qPrintable(error + run.describe()));
    QCOMPARE(answers[0], QByteArray("$2$"));
    QCOMPARE(answers[1], QByteArray("$5$"));
    QVERIFY2(answers[2].startsWith("failed ") && answers[2].contains("signal 11"), answers[2].constData());
    QCOMPARE(answers[3], QByteArray("$6$"));
    QCOMPARE(answers[4], QByteArray("$2$"));
    QCOMPARE(answers[5], QByteArray("$5$"));
}

// Answers come as each file is measured, before the list ends; SIGTERM
// then ends the front by its signal, and its converter with it.
void TestEncoderCommandLine::probeListStops()
{
    QProcess process;
    process.start(path(), {toolcontract::kProbeListOption});
    process.write(QFile::encodeName(file("tone.wav")) + '\0' + QFile::encodeName(file("list.aac")) + '\0');
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).count('\n') == 2, 20000);
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(process.processId()));
    QVERIFY(children.open(QIODevice::ReadOnly));
    const QList<QByteArray> pids = children.readAll().trimmed().split(' ');
    QCOMPARE(pids.size(), 1);
    process.terminate();
    QVERIFY(process.waitForFinished(toolcontract::kStopGraceMs));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), SIGTERM);
    QVERIFY(kill(pids[0].toInt(), 0) != 0);
}

// A closed standard output ends the list with an error, never a crash.
void TestEncoderCommandLine::probeListWithClosedOutput()
{
    const QString closedOutput = QStringLiteral(
        "import os, subprocess, sys\n"
        "r, w = os.pipe(); os.close(r)\n"
        "paths = b''.join(os.fsencode(p) + b'\\0' for p in sys.argv[2:] * 200)\n"
        "print(subprocess.run([sys.argv[1], '-probe-list'], input=paths, stdout=w, stderr=subprocess.DEVNULL).returncode)\n");
    for (const QString &program : {path(), converterPath()}) {
        const Run run = runProgram("python3", {"-c", closedOutput, program, file("tone.wav"), file("list.aac")});
        QCOMPARE(run.out.trimmed(), QByteArray("1"));
    }
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
