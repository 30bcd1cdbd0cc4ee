// What the MP3 keeps of the input, and what the user is told: damaged
// samples are repaired (with a note), surround is mixed down as the stock
// program mixes it into integers whatever the sample format, every step of
// the quality scale keeps a bright sound, a killed tool has named its
// temporary file, and audio lost inside a file that converts gets a note.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
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

QString gap(const Levels &out, const Levels &expected)
{
    return QStringLiteral("%1 dB, expected %2 dB").arg(out.rmsDb).arg(expected.rmsDb);
}

// Overwrites samples (counted over all channels) of a float WAV or AIFF-C
// that the stock program wrote with +bitexact (its chunk ids the only ones).
bool overwriteSamples(const QString &path, int count, double value, bool isDouble, bool aiff)
{
    QFile file(path);
    const qsizetype chunk = file.open(QIODevice::ReadWrite) ? file.readAll().indexOf(aiff ? "SSND" : "data", 12) : -1;
    QByteArray sample;
    QDataStream stream(&sample, QIODevice::WriteOnly);
    stream.setByteOrder(aiff ? QDataStream::BigEndian : QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(isDouble ? QDataStream::DoublePrecision : QDataStream::SinglePrecision);
    stream << value;
    for (int i = 0; i < count && chunk > 0; ++i) // left channel, spread apart
        if (!file.seek(chunk + (aiff ? 16 : 8) + (40000 + 2 * 997 * i) * sample.size()) || file.write(sample) != sample.size())
            return false;
    return chunk > 0;
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
    tone.outputOptions = {"-fflags", "+bitexact", "-c:a", codec};
    QVERIFY(fixtures::makeTone(clean, tone) && fixtures::makeTone(damaged, tone));
    QVERIFY(overwriteSamples(damaged, count, value, codec.contains("64"), suffix == "aiff"));

    const Run run = convert(damaged, 60, damaged + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QCOMPARE(notes(run.err), note.isEmpty() ? QStringList() : QStringList{note});
    const Levels in = measure(note.isEmpty() ? damaged : clean);
    const Levels out = measure(damaged + ".mp3");
    QCOMPARE(out.samples, in.samples);
    QVERIFY2(qAbs(out.rmsDb - in.rmsDb) <= 0.5, qPrintable(gap(out, in)));
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
    const Levels out = measure(input + ".mp3");
    const Levels expected = measure(reference);
    QVERIFY2(qAbs(out.rmsDb - expected.rmsDb) <= 0.5, qPrintable(gap(out, expected)));
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
    const QString band = "highpass=f=7000,highpass=f=7000" + QString(",lowpass=f=9500").repeated(4); // steep
    QVERIFY(QFile::exists(input)
            || fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "anoisesrc=color=white:amplitude=0.5:seed=5:duration=3:r=48000",
                                         "-af", band, "-ac", "2", "-c:a", "libvorbis", input}));
    const QString output = file(QStringLiteral("bright-%1.mp3").arg(quality));
    const Run run = convert(input, quality, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const Levels in = measure(input);
    const Levels out = measure(output);
    QVERIFY2(qAbs(out.rmsDb - in.rmsDb) <= 0.5, qPrintable(gap(out, in)));
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
    QVERIFY(fixtures::makeTone(input, tone));

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
    QTest::addColumn<QString>("options");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("damagedBytes");
    // Less is lost than the shortfall a file may have and still convert:
    // a few FLAC frames of 1152 samples, half a second of the MP3.
    QTest::newRow("flac") << "damaged.flac" << "-compression_level 0" << 11.92 << 5000;
    QTest::newRow("mp3") << "damaged.mp3" << "-b:a 320k" << 60.0 << 20000;
}

void TestEncoderFidelity::damageInsideFile()
{
    QFETCH(QString, name);
    QFETCH(QString, options);
    QFETCH(double, seconds);
    QFETCH(int, damagedBytes);
    const QString input = file(name);
    const QString noise = QStringLiteral("anoisesrc=color=pink:amplitude=0.3:seed=1:duration=%1").arg(seconds);
    QVERIFY(fixtures::runStockFfmpeg(QStringList{"-f", "lavfi", "-i", noise, "-ac", "2"} + options.split(' ') << input));
    const Levels whole = measure(input);
    QFile file(input);
    QByteArray garbage(damagedBytes, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(garbage.data()), damagedBytes / 4);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) && file.write(garbage) == damagedBytes);
    file.close();

    const Run run = convert(input, 50, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QStringList said = notes(run.err);
    QCOMPARE(said.size(), 1);
    const QRegularExpressionMatch lost =
        QRegularExpression(R"(^(\d+\.\d\d) s could not be decoded \(\d+ damaged packets? (was|were) skipped\)$)")
            .match(said[0]);
    QVERIFY2(lost.hasMatch(), qPrintable(said[0]));
    const double missing = whole.seconds() - measure(input + ".mp3").seconds();
    QVERIFY2(qAbs(lost.captured(1).toDouble() - missing) <= 0.01, qPrintable(QString::number(missing)));
}

QTEST_GUILESS_MAIN(TestEncoderFidelity)
#include "tst_encoderfidelity.moc"
