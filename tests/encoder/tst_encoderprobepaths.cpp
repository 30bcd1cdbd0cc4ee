// The probe's two paths: the front reads the length from the header with
// TagLib, the converter with FFmpeg's libraries. Wherever the front answers,
// both give the same whole seconds; it answers by itself for the usual
// formats and hands cut, streamed and odd files over. Started by the
// program, the tool's answer is the converter's whichever path it took.
// Where a header leaves the length open, the answer is the length of the
// audio the conversion decodes.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <QtEndian>

#include <cmath>

using namespace encodertool;

namespace {

const QString stockPrefix = fixtures::stockFfmpeg() + " -nostdin -v error -y ";

// Shell commands that write the file "$0" (or `target`).
QString tone(double seconds, int rate, int channels, const QString &options = QString(),
             const QString &target = "\"$0\"")
{
    return stockPrefix
        + QStringLiteral("-f lavfi -i sine=frequency=1000:sample_rate=%1:duration=%2 -ac %3 %4 %5")
              .arg(rate)
              .arg(seconds)
              .arg(channels)
              .arg(options, target);
}

QString piped(const QString &options)
{
    return stockPrefix + "-f lavfi -i sine=duration=3.3 -ac 2 " + options + " - | cat > \"$0\"";
}

QString cutInHalf(const QString &recipe)
{
    return recipe + " && truncate -s $(( $(stat -c %s \"$0\") / 2 )) \"$0\"";
}

// One byte of the file set to 0xFF.
QString damaged(const QString &recipe, int offset)
{
    return recipe + QStringLiteral(" && printf '\\377' | dd of=\"$0\" bs=1 seek=%1 conv=notrunc 2>/dev/null").arg(offset);
}

// The first `bytes` of a tone in the given format, then filler.
QString headerThenFiller(const QString &format, int bytes)
{
    return tone(5.0, 44100, 2, "-fflags +bitexact -f " + format, "\"$0.src\"")
        + QStringLiteral(" && { head -c %1 \"$0.src\"; yes filler | head -c 40000; } > \"$0\"").arg(bytes);
}

// Bytes of RIFF (little-endian) and AIFF (big-endian) files.
QByteArray number(quint32 value, int bytes, bool bigEndian)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * (bigEndian ? bytes - 1 - i : i)));
    return out;
}

QByteArray chunk(const char *name, const QByteArray &data, bool bigEndian)
{
    return name + number(data.size(), 4, bigEndian) + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// 16-bit stereo 44.1 kHz samples of a 1 kHz tone.
QByteArray samples(double seconds, bool bigEndian)
{
    QByteArray out;
    for (int i = 0; i < int(seconds * 44100); ++i) {
        const auto value = quint16(qint16(8000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        out += number(value, 2, bigEndian) + number(value, 2, bigEndian);
    }
    return out;
}

QByteArray twoDataChunks()
{
    const QByteArray format = number(1, 2, false) + number(2, 2, false) + number(44100, 4, false)
        + number(44100 * 4, 4, false) + number(4, 2, false) + number(16, 2, false);
    const QByteArray body = "WAVE" + chunk("fmt ", format, false) + chunk("data", samples(1.5, false), false)
        + chunk("data", samples(3.6, false), false);
    return "RIFF" + number(body.size(), 4, false) + body;
}

// COMM chunks counting the given seconds of frames, SSND holding 3.6 s; a
// negative count leaves the chunk out.
QByteArray aiff(double before, double after)
{
    const auto comm = [](double seconds) {
        // 44100 as an 80-bit extended float.
        const QByteArray rate = QByteArray::fromHex("400EAC44000000000000");
        return chunk("COMM", number(2, 2, true) + number(quint32(seconds * 44100), 4, true) + number(16, 2, true) + rate,
                     true);
    };
    QByteArray body = "AIFF" + comm(before) + chunk("SSND", QByteArray(8, '\0') + samples(3.6, true), true);
    if (after >= 0)
        body += comm(after);
    return "FORM" + number(body.size(), 4, true) + body;
}

// The payload of the first box on the path (32-bit sizes), or -1.
int boxPayload(const QByteArray &file, const QList<QByteArray> &path)
{
    int start = 0;
    int end = int(file.size());
    for (const QByteArray &name : path) {
        int found = -1;
        for (int at = start; at + 8 <= end && found < 0;) {
            const int size = int(qFromBigEndian<quint32>(file.constData() + at));
            if (size < 8)
                return -1;
            if (file.mid(at + 4, 4) == name)
                found = at;
            else
                at += size;
        }
        if (found < 0)
            return -1;
        start = found + 8;
        end = found + int(qFromBigEndian<quint32>(file.constData() + found));
    }
    return start;
}

// A 5.3 s AAC M4A as the stock program writes it (its edit list leaves out
// the encoder's delay), one 32-bit field of a box then set to `value`.
QByteArray patchedM4a(const QString &source, const QList<QByteArray> &box, int offset, quint32 value)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    const int payload = boxPayload(bytes, QList<QByteArray>{"moov", "trak"} + box);
    if (payload < 0)
        return {};
    qToBigEndian(value, bytes.data() + payload + offset);
    return bytes;
}

} // namespace

class TestEncoderProbePaths : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bothPathsAgree_data();
    void bothPathsAgree();
    void probeFollowsTheConversion_data();
    void probeFollowsTheConversion();

private:
    QTemporaryDir dir;
    QTemporaryDir frontOnly; // the front without a converter: it fails wherever it would hand over
};

void TestEncoderProbePaths::initTestCase()
{
    QVERIFY(dir.isValid() && frontOnly.isValid());
    const QString front = frontOnly.filePath(toolcontract::kToolName);
    QVERIFY(QFile::copy(path(), front));
    QVERIFY(QFile::setPermissions(front, QFile::ReadOwner | QFile::ExeOwner));
}

void TestEncoderProbePaths::bothPathsAgree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("recipe");
    QTest::addColumn<bool>("frontAnswers");

    const QString vbr = "-c:a libmp3lame -q:a 4";
    QTest::newRow("wav 16-bit, 2.999 s") << "a.wav" << tone(2.999, 44100, 2) << true;
    QTest::newRow("wav 16-bit, 3 s") << "b.wav" << tone(3.0, 44100, 2) << true;
    QTest::newRow("wav 24-bit 96 kHz") << "c.wav" << tone(3.3, 96000, 2, "-c:a pcm_s24le") << true;
    QTest::newRow("wav float mono 8 kHz") << "d.wav" << tone(3.3, 8000, 1, "-c:a pcm_f32le") << true;
    QTest::newRow("wav 5.1 48 kHz") << "e.wav" << tone(3.3, 48000, 6) << true;
    QTest::newRow("wav 8-bit, odd data size") << "f.wav" << tone(3.3, 22050, 1, "-c:a pcm_u8") << false;
    QTest::newRow("flac, 3.001 s") << "a.flac" << tone(3.001, 44100, 2) << true;
    // One frame, its size stated after the frame number: the front still
    // reads that frame's header, but leaves a length under a second to the
    // converter, which decodes.
    QTest::newRow("flac shorter than one block") << "short.flac" << tone(0.05, 44100, 2) << false;
    QTest::newRow("flac 24-bit 96 kHz") << "b.flac" << tone(3.3, 96000, 2, "-sample_fmt s32") << true;
    QTest::newRow("aiff mono 22.05 kHz") << "a.aiff" << tone(3.3, 22050, 1) << true;
    QTest::newRow("aiff 24-bit") << "b.aiff" << tone(3.3, 44100, 2, "-c:a pcm_s24be") << true;
    QTest::newRow("mp3 VBR with Xing") << "a.mp3" << tone(7.6, 44100, 2, vbr) << true;
    QTest::newRow("mp3 VBR mono 48 kHz") << "b.mp3" << tone(7.6, 48000, 1, vbr) << true;
    QTest::newRow("mp3 VBR mono 22.05 kHz") << "c.mp3" << tone(7.6, 22050, 1, vbr) << true;
    QTest::newRow("mp3 CBR with Info") << "d.mp3" << tone(7.6, 44100, 2, "-b:a 128k") << true;
    QTest::newRow("mp3 with ID3v2 tag") << "e.mp3" << tone(7.6, 44100, 2, "-metadata title=T -metadata artist=A")
                                        << true;
    // Without the frame count TagLib only estimates from the bit rate.
    QTest::newRow("mp3 CBR without Xing") << "f.mp3" << tone(7.6, 44100, 2, "-b:a 128k -write_xing 0") << false;
    QTest::newRow("mp3 VBR without Xing") << "g.mp3" << tone(7.6, 44100, 2, vbr + " -write_xing 0") << false;
    QTest::newRow("ogg vorbis") << "a.ogg" << tone(4.4, 44100, 2, "-c:a libvorbis") << true;
    QTest::newRow("ogg vorbis mono 22.05 kHz") << "b.ogg" << tone(64.4, 22050, 1, "-c:a libvorbis") << true;
    QTest::newRow("opus") << "a.opus" << tone(4.4, 48000, 2) << true;
    QTest::newRow("opus mono from 16 kHz") << "b.opus" << tone(10.3, 16000, 1) << true;
    QTest::newRow("aac in m4a") << "a.m4a" << tone(7.4, 44100, 2) << true;
    QTest::newRow("aac in m4a mono 48 kHz") << "b.m4a" << tone(17.7, 48000, 1) << true;
    QTest::newRow("alac in m4a") << "c.m4a" << tone(5.5, 44100, 2, "-c:a alac") << true;
    // Encoder delay makes the header's length a little longer than the audio.
    QTest::newRow("aac in m4a, near a whole second") << "d.m4a" << tone(2.99, 44100, 2) << false;
    QTest::newRow("aac in a film") << "a.mp4" << tone(3.3, 44100, 2, "-f mp4") << false;

    QTest::newRow("wav cut in half") << "cut.wav" << cutInHalf(tone(6.0, 44100, 2)) << false;
    QTest::newRow("aiff cut in half") << "cut.aiff" << cutInHalf(tone(6.0, 44100, 2)) << false;
    QTest::newRow("flac cut in half (stated length)") << "cut.flac" << cutInHalf(tone(6.0, 44100, 2)) << true;
    QTest::newRow("mp3 cut in half") << "cut.mp3" << cutInHalf(tone(6.0, 44100, 2)) << false;
    QTest::newRow("ogg vorbis cut in half") << "cut.ogg" << cutInHalf(tone(6.0, 44100, 2, "-c:a libvorbis")) << false;
    QTest::newRow("opus cut in half") << "cut.opus" << cutInHalf(tone(6.0, 48000, 2)) << false;
    QTest::newRow("m4a cut in half") << "cut.m4a" << cutInHalf(tone(6.0, 44100, 2)) << false;

    QTest::newRow("wav streamed") << "streamed.wav" << piped("-f wav") << false;
    QTest::newRow("wav streamed by sox") << "sox.wav"
                                         << "sox -V1 -n -r 44100 -c 2 -t wav - synth 3.3 sine 1000 | cat > \"$0\""
                                         << false;
    QTest::newRow("aiff streamed") << "streamed.aiff" << piped("-f aiff") << false;
    QTest::newRow("flac streamed") << "streamed.flac" << piped("-f flac") << false;
    QTest::newRow("mp3 streamed") << "streamed.mp3" << piped("-f mp3") << false;
    QTest::newRow("ogg streamed (complete pages)") << "streamed.ogg" << piped("-c:a libvorbis -f ogg") << true;

    QTest::newRow("flac header, then no frames") << "odd.flac" << headerThenFiller("flac", 200) << false;
    QTest::newRow("mp3 Xing frame, then no frames") << "odd.mp3" << headerThenFiller("mp3", 1000) << false;
    QTest::newRow("wav header, then filler") << "odd.wav" << headerThenFiller("wav", 44) << false;
    QTest::newRow("two mp3 files joined") << "joined.mp3"
                                          << tone(7.6, 44100, 2, vbr + " -f mp3", "\"$0.src\"")
                                                 + " && cat \"$0.src\" \"$0.src\" > \"$0\""
                                          << false;
    // The converter decodes the first frame and checks Ogg pages.
    QTest::newRow("wav, unknown extensible subformat") << "bad.wav"
                                                       << damaged(tone(3.3, 44100, 2, "-c:a pcm_s24le"), 44) << false;
    QTest::newRow("flac, STREAMINFO unlike its frames") << "bad.flac" << damaged(tone(3.3, 44100, 2), 20) << false;
    QTest::newRow("ogg vorbis, a damaged header page") << "bad.ogg" << damaged(tone(3.3, 44100, 2, "-c:a libvorbis"), 200)
                                                       << false;
    QTest::newRow("ogg page header alone") << "odd.ogg" << "printf 'OggS\\0\\2' > \"$0\"" << false;
    QTest::newRow("empty") << "empty.wav" << ": > \"$0\"" << false;
    QTest::newRow("fifo") << "fifo.wav" << "mkfifo \"$0\"" << false;
    QTest::newRow("folder") << "folder.flac" << "mkdir \"$0\"" << false;
}

void TestEncoderProbePaths::bothPathsAgree()
{
    QFETCH(QString, name);
    QFETCH(QString, recipe);
    QFETCH(bool, frontAnswers);
    const QString input = dir.filePath(name);
    QCOMPARE(QProcess::execute("sh", {"-c", recipe, input}), 0);

    const Run converter = runProgram(converterPath(), {"-i", input});
    const Run front = runProgram(frontOnly.filePath(toolcontract::kToolName), {"-i", input});
    QVERIFY2(converter.finished && front.finished, "a probe must never wait");
    QVERIFY2((front.exitCode == 0) == frontAnswers, qPrintable(front.describe() + " / " + converter.describe()));
    if (frontAnswers) {
        QCOMPARE(converter.exitCode, 0);
        QCOMPARE(front.out, converter.out);
        QCOMPARE(front.err, QByteArray());
    }

    const Run tool = probe(input);
    QCOMPARE(tool.exitCode, converter.exitCode);
    QCOMPARE(tool.out, converter.out);
    QCOMPARE(tool.err, converter.err);
}

void TestEncoderProbePaths::probeFollowsTheConversion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");

    const QString m4a = dir.filePath("source.m4a");
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "sine=frequency=1000:duration=5.3", "-ac", "2", m4a}));
    const QList<QByteArray> mdhd{"mdia", "mdhd"};
    const QList<QByteArray> elst{"edts", "elst"};
    const quint32 samples = 1024 + 233730; // the encoder's delay and 5.3 s
    QTest::newRow("wav, two data chunks") << "two.wav" << twoDataChunks();
    QTest::newRow("aiff, a second COMM after SSND") << "comm.aiff" << aiff(1.5, 2.4);
    QTest::newRow("aiff, COMM counts less than SSND holds") << "short.aiff" << aiff(1.5, -1);
    QTest::newRow("m4a, mdhd half the samples") << "mdhd.m4a" << patchedM4a(m4a, mdhd, 16, samples / 2);
    QTest::newRow("m4a, mdhd twice the samples") << "long.m4a" << patchedM4a(m4a, mdhd, 16, samples * 2);
    QTest::newRow("m4a, edit list keeps half") << "half.m4a" << patchedM4a(m4a, elst, 8, 2650);
    QTest::newRow("m4a, edit list starts late") << "late.m4a" << patchedM4a(m4a, elst, 12, 4000);
    // A second in, for the whole length: the samples run out a second early.
    QTest::newRow("m4a, edit list runs past the samples") << "past.m4a" << patchedM4a(m4a, elst, 12, 1024 + 44100);
    // Stated 2.9977 s; the decoder's whole frames make it 3.0186 s.
    QTest::newRow("m4a, just short of a whole second") << "near.m4a" << QByteArray();
}

void TestEncoderProbePaths::probeFollowsTheConversion()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString input = dir.filePath(name);
    if (bytes.isEmpty()) {
        QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "sine=frequency=1000:duration=2.99773", "-ac", "2", input}));
    } else {
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    const Run front = runProgram(frontOnly.filePath(toolcontract::kToolName), {"-i", input});
    QVERIFY2(front.finished && front.exitCode != 0, qPrintable("the front answered: " + front.describe()));
    const Run single = probe(input);
    QVERIFY2(single.exitCode == 0, qPrintable(single.describe()));
    QProcess list;
    list.start(path(), {toolcontract::kProbeListOption});
    list.write(QFile::encodeName(input) + '\0');
    list.closeWriteChannel();
    QVERIFY(list.waitForFinished(60000));
    QCOMPARE(list.readAllStandardOutput(), "Probe 0 " + single.out);

    const QString mp3 = input + ".mp3";
    const Run conversion = convert(input, 50, mp3);
    QVERIFY2(conversion.succeeded(), qPrintable(conversion.describe()));
    const double seconds = measure(mp3).seconds();
    QVERIFY(seconds > 0);
    QCOMPARE(single.out.trimmed(), '$' + QByteArray::number(qint64(seconds)) + '$');
}

QTEST_GUILESS_MAIN(TestEncoderProbePaths)
#include "tst_encoderprobepaths.moc"
