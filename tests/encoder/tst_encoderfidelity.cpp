// What the MP3 keeps of the input: damaged samples are repaired instead of
// crashing the encoder, and the user hears of it in a note; surround is
// mixed down as the stock program mixes it into integers, whatever the
// sample format; every step of the quality scale keeps a bright sound; a
// tool killed while writing a named temporary file has named it; and audio
// lost to damage inside a file that still converts is told in a note.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <limits>

using namespace encodertool;

namespace {

// The "ffmpeg: note: " lines of standard error, without the prefix.
QStringList notes(const QByteArray &err)
{
    QStringList lines;
    for (const QString &line : otherErrorLines(err))
        if (line.startsWith(toolcontract::kNotePrefix))
            lines << line.mid(int(std::strlen(toolcontract::kNotePrefix)));
    return lines;
}

// The bytes of a float or double sample in the file's byte order.
QByteArray sampleBytes(double value, int bytes, bool bigEndian)
{
    QByteArray data(bytes, Qt::Uninitialized);
    if (bytes == 4) {
        const float single = float(value);
        quint32 bits;
        std::memcpy(&bits, &single, 4);
        bigEndian ? qToBigEndian(bits, data.data()) : qToLittleEndian(bits, data.data());
    } else {
        quint64 bits;
        std::memcpy(&bits, &value, 8);
        bigEndian ? qToBigEndian(bits, data.data()) : qToLittleEndian(bits, data.data());
    }
    return data;
}

// Overwrites samples (counted over all channels) of a float WAV or AIFF-C
// written by the stock program with +bitexact, so that its chunk ids are
// the only ones in the file.
bool overwriteSamples(const QString &path, const QList<qint64> &indexes, double value, int bytes, bool aiff)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray contents = file.readAll();
    const qsizetype chunk = contents.indexOf(aiff ? "SSND" : "data", 12);
    if (chunk < 0)
        return false;
    const qint64 start = chunk + 8 + (aiff ? 8 : 0);
    for (const qint64 index : indexes)
        if (!file.seek(start + index * bytes) || file.write(sampleBytes(value, bytes, aiff)) != bytes)
            return false;
    return true;
}

} // namespace

class TestEncoderFidelity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void damagedSamples_data();
    void damagedSamples();
    void downmix_data();
    void downmix();
    void brightSoundAtEveryQuality_data();
    void brightSoundAtEveryQuality();
    void killedToolNamesPartialFile_data();
    void killedToolNamesPartialFile();
    void damageInsideFile_data();
    void damageInsideFile();

private:
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestEncoderFidelity::damagedSamples_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("note");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("wav float, NaN") << "wav" << "pcm_f32le" << nan << 1 << "1 damaged sample was repaired";
    QTest::newRow("wav float, infinite") << "wav" << "pcm_f32le" << -infinity << 3 << "3 damaged samples were repaired";
    QTest::newRow("wav float, 1e9") << "wav" << "pcm_f32le" << 1e9 << 2 << "2 damaged samples were repaired";
    QTest::newRow("wav double, too large for float") << "wav" << "pcm_f64le" << 1e300 << 2
                                                     << "2 damaged samples were repaired";
    QTest::newRow("aiff-c float, NaN") << "aiff" << "pcm_f32be" << nan << 5 << "5 damaged samples were repaired";
    // Overs of a float file are audio, kept as they are.
    QTest::newRow("wav float, overs") << "wav" << "pcm_f32le" << 4.0 << 50 << "";
}

void TestEncoderFidelity::damagedSamples()
{
    QFETCH(QString, suffix);
    QFETCH(QString, codec);
    QFETCH(double, value);
    QFETCH(int, count);
    QFETCH(QString, note);

    const QString clean = file("clean-" + codec + "." + suffix);
    const QString damaged = file("damaged-" + codec + "." + suffix);
    fixtures::Tone tone;
    tone.frequency = 440;
    tone.outputOptions = {"-fflags", "+bitexact", "-c:a", codec};
    QVERIFY(fixtures::makeTone(clean, tone));
    QFile::remove(damaged);
    QVERIFY(QFile::copy(clean, damaged));
    QList<qint64> indexes;
    for (int i = 0; i < count; ++i)
        indexes << 40000 + 2 * 997 * i; // left channel, spread apart
    QVERIFY(overwriteSamples(damaged, indexes, value, codec.contains("64") ? 8 : 4, suffix == "aiff"));

    const Run run = convert(damaged, 60, damaged + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QCOMPARE(notes(run.err), note.isEmpty() ? QStringList() : QStringList{note});
    const Levels in = measure(note.isEmpty() ? damaged : clean);
    const Levels out = measure(damaged + ".mp3");
    QCOMPARE(out.samples, in.samples);
    QVERIFY2(qAbs(out.rmsDb - in.rmsDb) <= 0.5, qPrintable(QStringLiteral("%1 dB from %2 dB").arg(out.rmsDb).arg(in.rmsDb)));
}

void TestEncoderFidelity::downmix_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("codec");
    for (const QString codec : {"pcm_f32le", "pcm_s16le", "pcm_s32le"})
        QTest::addRow("5.1 %s", qPrintable(codec)) << "5.1" << codec;
    QTest::newRow("7.1 float") << "7.1" << "pcm_f32le";
    QTest::newRow("quad float") << "quad" << "pcm_f32le";
    QTest::newRow("stereo float") << "stereo" << "pcm_f32le";
}

// Every channel a loud tone of its own: a mix that is not scaled down clips.
void TestEncoderFidelity::downmix()
{
    QFETCH(QString, layout);
    QFETCH(QString, codec);
    const QString input = file("mix-" + layout + "-" + codec + ".wav");
    const QString reference = input + ".reference.wav";
    QStringList tones;
    for (int channel = 0, channels = layout == "stereo" ? 2 : layout == "quad" ? 4 : layout == "5.1" ? 6 : 8;
         channel < channels; ++channel)
        tones << QStringLiteral("0.9*sin(2*PI*%1*t)").arg(200 + 90 * channel);
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i",
                                      QStringLiteral("aevalsrc=exprs=%1:channel_layout=%2:sample_rate=48000:duration=3")
                                          .arg(tones.join('|'), layout),
                                      "-c:a", codec, input}));
    QVERIFY(fixtures::runStockFfmpeg({"-i", input, "-ac", "2", "-c:a", "pcm_s16le", reference}));

    const Run run = convert(input, 60, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const Levels expected = measure(reference);
    const Levels out = measure(input + ".mp3");
    QVERIFY2(qAbs(out.rmsDb - expected.rmsDb) <= 0.5,
             qPrintable(QStringLiteral("%1 dB, the stock mix %2 dB").arg(out.rmsDb).arg(expected.rmsDb)));
}

void TestEncoderFidelity::brightSoundAtEveryQuality_data()
{
    QTest::addColumn<int>("quality");
    for (int quality = 0; quality < 100; quality += 10)
        QTest::addRow("quality %d", quality) << quality;
    QTest::newRow("quality 99") << 99;
}

// Noise between 7 and 9.5 kHz, at 48 kHz: LAME keeps it at every level
// when it picks the rate for the level (at its lowest, below the input's).
void TestEncoderFidelity::brightSoundAtEveryQuality()
{
    QFETCH(int, quality);
    const QString input = file("bright.ogg");
    if (!QFile::exists(input))
        QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "anoisesrc=color=white:amplitude=0.5:seed=5:duration=3:r=48000",
                                          "-af", "highpass=f=7000,highpass=f=7000" + QString(",lowpass=f=9500").repeated(4),
                                          "-ac", "2",
                                          "-c:a", "libvorbis", input}));
    const QString output = file(QStringLiteral("bright-%1.mp3").arg(quality));
    const Run run = convert(input, quality, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const Levels in = measure(input);
    const Levels out = measure(output);
    QVERIFY2(qAbs(out.rmsDb - in.rmsDb) <= 0.5, qPrintable(QStringLiteral("%1 dB from %2 dB").arg(out.rmsDb).arg(in.rmsDb)));
    QVERIFY2(qAbs(out.seconds() - in.seconds()) <= 0.05, qPrintable(QString::number(out.seconds())));
}

void TestEncoderFidelity::killedToolNamesPartialFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain name") << "song.mp3";
    QTest::newRow("name with a line break and a percent sign") << "100% \nlive.mp3";
}

// In a FUSE folder (no unnamed files) the MP3 is written as a hidden file;
// its name is on standard error before the tool is killed, and it is all
// the tool leaves behind.
void TestEncoderFidelity::killedToolNamesPartialFile()
{
    QFETCH(QString, name);
    if (QStandardPaths::findExecutable("bindfs").isEmpty())
        QSKIP("needs bindfs to mount a FUSE folder");
    const QString backing = file("backing");
    const QString folder = file("fuse");
    QVERIFY(QDir().mkpath(backing) && QDir().mkpath(folder));
    if (QProcess::execute("bindfs", {backing, folder}) != 0)
        QSKIP("cannot mount a FUSE folder");
    const auto unmount = qScopeGuard([&] { QProcess::execute("fusermount", {"-u", folder}); });
    const QString input = file("long.flac");
    fixtures::Tone tone;
    tone.seconds = 120.0;
    QVERIFY(QFile::exists(input) || fixtures::makeTone(input, tone));

    QProcess process;
    QByteArray err;
    connect(&process, &QProcess::readyReadStandardError, [&] { err += process.readAllStandardError(); });
    process.start(encodertool::path(), {"-i", input, "-acodec", "libmp3lame", "-aq", "99", folder + "/" + name});
    const QByteArray prefix = toolcontract::kPartialFilePrefix;
    const auto announced = [&] {
        for (const QByteArray &line : err.left(err.lastIndexOf('\n')).split('\n')) // whole lines only
            if (line.startsWith(prefix))
                return QString::fromStdString(toolcontract::decodeLineText(line.mid(prefix.size()).toStdString()));
        return QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!announced().isEmpty(), 30000);
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(process.processId()), SIGKILL), 0);
    QVERIFY(process.waitForFinished(3000));

    const QString partial = announced();
    QVERIFY2(partial.startsWith('.') && !partial.contains('/'), qPrintable(partial));
    QCOMPARE(QDir(backing).entryList(QDir::Files | QDir::Hidden), QStringList{partial});
    QVERIFY(QFile::remove(folder + "/" + partial));
}

void TestEncoderFidelity::damageInsideFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("damagedBytes");
    // Frames of 1152 samples: a few of them lost, less than the 0.2 s a
    // file may fall short of its header's length and still convert.
    QTest::newRow("flac") << "damaged.flac" << QStringList{"-compression_level", "0"} << 11.92 << 5000;
    QTest::newRow("mp3") << "damaged.mp3" << QStringList{"-b:a", "320k"} << 60.0 << 20000;
    // Whole files: the encoder delay and padding that an MP3's LAME header
    // accounts for are no loss.
    QTest::newRow("whole flac") << "whole.flac" << QStringList{"-compression_level", "0"} << 11.92 << 0;
    QTest::newRow("whole mp3") << "whole.mp3" << QStringList{"-b:a", "320k"} << 11.92 << 0;
}

void TestEncoderFidelity::damageInsideFile()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(double, seconds);
    QFETCH(int, damagedBytes);
    const QString input = file(name);
    QVERIFY(fixtures::runStockFfmpeg(QStringList{"-f", "lavfi", "-i",
                                                 QStringLiteral("anoisesrc=color=pink:amplitude=0.3:seed=1:duration=%1:r=44100")
                                                     .arg(seconds),
                                                 "-ac", "2"}
                                     + options + QStringList{input}));
    const Levels whole = measure(input);
    if (damagedBytes > 0) {
        QFile file(input);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2));
        QByteArray noise(damagedBytes, Qt::Uninitialized);
        QRandomGenerator random(3);
        for (char &byte : noise)
            byte = char(random.bounded(256));
        QCOMPARE(file.write(noise), qint64(damagedBytes));
    }

    const Run run = convert(input, 50, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QStringList said = notes(run.err);
    if (damagedBytes == 0) {
        QCOMPARE(said, QStringList());
        return;
    }
    QCOMPARE(said.size(), 1);
    const QRegularExpressionMatch lost =
        QRegularExpression(R"(^(\d+\.\d\d) s could not be decoded \(\d+ damaged packets? (was|were) skipped\)$)")
            .match(said[0]);
    QVERIFY2(lost.hasMatch(), qPrintable(said[0]));
    const double missing = whole.seconds() - measure(input + ".mp3").seconds();
    QVERIFY2(qAbs(lost.captured(1).toDouble() - missing) <= 0.01,
             qPrintable(QStringLiteral("%1, but %2 s are missing").arg(said[0]).arg(missing)));
}

QTEST_GUILESS_MAIN(TestEncoderFidelity)
#include "tst_encoderfidelity.moc"
