// Inputs: names that must work whatever they hold, and inputs that must
// fail promptly, without hanging, crashing or leaving anything behind.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace encodertool;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool copyStart(const QString &from, const QString &to, qint64 bytes)
{
    QFile file(from);
    return file.open(QIODevice::ReadOnly) && writeFile(to, file.read(bytes));
}

bool copyFirstHalf(const QString &from, const QString &to)
{
    return copyStart(from, to, QFileInfo(from).size() / 2);
}

// A WAV with the plain 44-byte header (16-bit stereo).
bool makePlainWav(const QString &path, double seconds)
{
    fixtures::Tone tone;
    tone.seconds = seconds;
    tone.outputOptions = {"-fflags", "+bitexact", "-c:a", "pcm_s16le"};
    return fixtures::makeTone(path, tone);
}

// A canonical 44-byte WAV header (16-bit stereo, 44.1 kHz) announcing no samples.
QByteArray wavHeaderWithoutData()
{
    QByteArray header;
    QDataStream stream(&header, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.writeRawData("RIFF", 4);
    stream << quint32(36);
    stream.writeRawData("WAVEfmt ", 8);
    stream << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(176400) << quint16(4)
           << quint16(16);
    stream.writeRawData("data", 4);
    stream << quint32(0);
    return header;
}

QByteArray randomBytes(int size)
{
    QRandomGenerator generator(20240607);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

class TestEncoderInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void streamedInputConverts_data();
    void streamedInputConverts();

    void oddNames_data();
    void oddNames();

    void badInput_data();
    void conversionRefuses_data() { badInput_data(); }
    void conversionRefuses();
    void probeRefuses_data() { badInput_data(); }
    void probeRefuses();

private:
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestEncoderInputs::initTestCase()
{
    QVERIFY(dir.isValid());
    fixtures::Tone tone;
    tone.seconds = 1.5;
    QVERIFY(fixtures::makeTone(file("tone.wav"), tone));
    tone.seconds = 4.0;
    for (const char *name : {"long.wav", "long.flac", "long.mp3", "long.m4a", "long.aiff"})
        QVERIFY(fixtures::makeTone(file(name), tone));
    for (const char *name : {"long.wav", "long.flac", "long.mp3", "long.m4a", "long.aiff"})
        QVERIFY(copyFirstHalf(file(name), file(QStringLiteral("cut-") + name)));
    QVERIFY(makePlainWav(file("plain.wav"), 4.0));
    QVERIFY(copyStart(file("plain.wav"), file("cut-between-samples.wav"), 44 + 4 * 44100));

    QVERIFY(writeFile(file("empty.wav"), {}));
    QVERIFY(writeFile(file("header-only.wav"), wavHeaderWithoutData()));
    QVERIFY(writeFile(file("random.mp3"), randomBytes(64 * 1024)));
    QVERIFY(makeVideo(file("silent-video.mp4"), false));
    QVERIFY(QDir(dir.path()).mkdir("folder.wav"));
    QCOMPARE(mkfifo(QFile::encodeName(file("fifo.wav")).constData(), 0600), 0);
    // Lists that name another, perfectly good file.
    QVERIFY(writeFile(file("playlist.m3u8"), "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.5,\n"
                                                 + QFile::encodeName(file("tone.wav")) + "\n#EXT-X-ENDLIST\n"));
    QVERIFY(writeFile(file("list.ffconcat"), "ffconcat version 1.0\nfile '" + QFile::encodeName(file("tone.wav"))
                                                 + "'\n"));
}

void TestEncoderInputs::streamedInputConverts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command"); // writes the file to standard output
    QTest::addColumn<double>("seconds");
    const QString ffmpeg = fixtures::stockFfmpeg() + " -nostdin -v error -f lavfi -i sine=duration=3.7 -ac 2 ";
    const QString sox = "sox -V1 -n -r 44100 -c 2 -b 16 -t %1 - synth 3.7 sine 1000";

    // Placeholders 0xFFFFFFFF (ffmpeg), 0x7FFFF000 (sox), 0 (ffmpeg's AIFF),
    // 0x7F000000 in bytes (sox's AIFF), 0 in ds64 (RF64), INT64_MAX (Wave64).
    QTest::newRow("wav, ffmpeg") << "a.wav" << ffmpeg + "-f wav -" << 3.7;
    QTest::newRow("wav, sox") << "b.wav" << sox.arg("wav") << 3.7;
    QTest::newRow("wav, sox, ends inside a sample frame") << "c.wav" << sox.arg("wav") + " | head -c 600001"
                                                          << 599956.0 / 4 / 44100;
    QTest::newRow("aiff, ffmpeg") << "a.aiff" << ffmpeg + "-f aiff -" << 3.7;
    QTest::newRow("aiff, sox") << "b.aiff" << sox.arg("aiff") << 3.7;
    QTest::newRow("aifc, sox") << "c.aifc" << sox.arg("aifc") << 3.7;
    QTest::newRow("rf64, ffmpeg") << "a.rf64" << ffmpeg + "-rf64 always -f wav -" << 3.7;
    QTest::newRow("wave64, ffmpeg") << "a.w64" << ffmpeg + "-f w64 -" << 3.7;
    // arecord, recording until stopped, announces 2^31 bytes: its 44-byte
    // header, then the samples.
    QTest::newRow("wav, arecord") << "d.wav"
                                  << "{ printf 'RIFF\\044\\0\\0\\200WAVEfmt \\020\\0\\0\\0\\1\\0\\2\\0\\104\\254\\0\\0"
                                     "\\020\\261\\2\\0\\4\\0\\020\\0data\\0\\0\\0\\200'; "
                                         + ffmpeg + "-ar 44100 -f s16le -; }"
                                  << 3.7;
}

// Written through a pipe, the file's length fields hold placeholders: it
// converts to its real end, and the probe gives its real length.
void TestEncoderInputs::streamedInputConverts()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(double, seconds);
    const QString input = file("streamed-" + name);
    QCOMPARE(QProcess::execute("sh", {"-c", command + " | cat > \"$0\"", input}), 0);

    const Run probed = probe(input);
    QVERIFY2(probed.finished && probed.exitCode == 0, qPrintable(probed.describe()));
    QCOMPARE(probed.out.trimmed(), QStringLiteral("$%1$").arg(int(seconds)).toLatin1());
    const QString output = input + ".mp3";
    const Run run = convert(input, 50, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY2(qAbs(measure(output).seconds() - seconds) < 0.03, qPrintable(QString::number(measure(output).seconds())));
}

void TestEncoderInputs::oddNames_data()
{
    QTest::addColumn<QString>("stem");
    QTest::newRow("leading dash") << "-i";
    QTest::newRow("quotes") << "say \"hi\" 'there'";
    QTest::newRow("hashes") << "##success## ##";
    QTest::newRow("dollars") << "$12$ cost $";
    QTest::newRow("spaces") << "  two  spaces ";
    QTest::newRow("non-ascii") << QStringLiteral("Ünïcødé ♫ 名前");
    QTest::newRow("protocol-like") << "http:x";
    QTest::newRow("file protocol-like") << "file:y";
    QTest::newRow("shell characters") << "a;b&c|d`e`$(f)";
    QTest::newRow("very long") << QString(240, QLatin1Char('n'));
}

// Names are given relative to the working directory, so a leading dash or a
// colon reaches the tool as the first characters of the argument.
void TestEncoderInputs::oddNames()
{
    QFETCH(QString, stem);
    const QString input = stem + ".wav";
    const QString output = stem + ".mp3";
    QVERIFY(QFile::copy(file("tone.wav"), file(input)));

    const Run probed = run({"-i", input}, dir.path());
    QVERIFY2(probed.finished && probed.exitCode == 0, qPrintable(probed.describe()));
    QCOMPARE(probed.out.trimmed(), QByteArray("$1$"));

    const Run converted = run({"-i", input, "-acodec", "libmp3lame", "-aq", "40", output}, dir.path());
    QVERIFY2(converted.succeeded(), qPrintable(converted.describe()));
    QVERIFY(qAbs(measure(file(output)).seconds() - 1.5) < 0.03);
    QFile::remove(file(input));
    QFile::remove(file(output));
}

void TestEncoderInputs::badInput_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("probeRefuses"); // a cut file still has a stated length

    QTest::newRow("missing file") << file("missing.wav") << true;
    QTest::newRow("empty file") << file("empty.wav") << true;
    QTest::newRow("wav header without data") << file("header-only.wav") << true;
    QTest::newRow("wav cut in half") << file("cut-long.wav") << false;
    QTest::newRow("wav cut between samples") << file("cut-between-samples.wav") << false;
    QTest::newRow("flac cut in half") << file("cut-long.flac") << false;
    QTest::newRow("mp3 cut in half") << file("cut-long.mp3") << false;
    QTest::newRow("m4a cut in half") << file("cut-long.m4a") << true;
    QTest::newRow("aiff cut in half") << file("cut-long.aiff") << false;
    QTest::newRow("random bytes") << file("random.mp3") << true;
    QTest::newRow("video without audio") << file("silent-video.mp4") << true;
    QTest::newRow("folder") << file("folder.wav") << true;
    QTest::newRow("fifo") << file("fifo.wav") << true;
    QTest::newRow("device") << "/dev/zero" << true;
    QTest::newRow("hls playlist") << file("playlist.m3u8") << true;
    QTest::newRow("concat list") << file("list.ffconcat") << true;
}

void TestEncoderInputs::conversionRefuses()
{
    QFETCH(QString, input);
    QTemporaryDir outputDir;
    const QString output = outputDir.filePath("out.mp3");

    const Run run = convert(input, 50, output);
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QVERIFY2(run.milliseconds < 10000, "must fail promptly");
    QCOMPARE(QDir(outputDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestEncoderInputs::probeRefuses()
{
    QFETCH(QString, input);
    QFETCH(bool, probeRefuses);

    const Run run = probe(input);
    QVERIFY2(run.finished && run.milliseconds < 10000, qPrintable(run.describe()));
    if (probeRefuses) {
        QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
        QVERIFY(!run.out.contains('$'));
    } else {
        QCOMPARE(run.exitCode, 0);
    }
}

QTEST_GUILESS_MAIN(TestEncoderInputs)
#include "tst_encoderinputs.moc"
