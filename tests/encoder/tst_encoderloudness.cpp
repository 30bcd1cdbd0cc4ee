// The MP3's ReplayGain 2.0 track gain and peak, measured while encoding,
// against the stock ffmpeg's EBU R128 and sample peak measurement of the
// input; an input's own album values carried over.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace encodertool;

namespace {

QJsonObject mp3Tags(const QString &file)
{
    return describeMedia(file).value("format").toObject().value("tags").toObject();
}

// The stock ffmpeg's integrated loudness (LUFS) and largest sample (linear)
// of the file.
bool stockLoudness(const QString &file, double &loudness, double &peak)
{
    QProcess process;
    process.start(fixtures::stockFfmpeg(), {"-nostdin", "-v", "error", "-i", file, "-af",
                                            "ebur128=metadata=1,astats=metadata=1:reset=0,ametadata=print:file=-",
                                            "-f", "null", "-"});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return false;
    const QString log = QString::fromUtf8(process.readAllStandardOutput());
    const auto last = [&log](const QString &key) {
        QString value;
        for (auto it = QRegularExpression(QRegularExpression::escape(key) + "=(\\S+)").globalMatch(log); it.hasNext();)
            value = it.next().captured(1);
        return value;
    };
    loudness = last("lavfi.r128.I").toDouble();
    peak = std::pow(10.0, last("lavfi.astats.Overall.Peak_level").toDouble() / 20.0);
    return !last("lavfi.r128.I").isEmpty();
}

} // namespace

class TestEncoderLoudness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void matchesEbur128_data();
    void matchesEbur128();
    void silenceHasNoGain();
    void albumValuesCarried();

private:
    QTemporaryDir dir;
};

void TestEncoderLoudness::matchesEbur128_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("name");
    QTest::newRow("quiet 1 kHz tone, 44.1 kHz stereo") << "sine=frequency=1000,volume=0.05,aformat=channel_layouts=stereo" << "a.wav";
    QTest::newRow("loud 100 Hz tone, 48 kHz mono") << "sine=frequency=100:sample_rate=48000,volume=7" << "b.flac";
    QTest::newRow("pink noise, stereo") << "anoisesrc=color=pink:amplitude=0.3:seed=3,aformat=channel_layouts=stereo" << "c.flac";
    QTest::newRow("full-scale white noise, 32 kHz") << "anoisesrc=amplitude=1:sample_rate=32000:seed=5" << "d.wav";
    QTest::newRow("very quiet brown noise") << "anoisesrc=color=brown:amplitude=0.002:seed=9" << "e.flac";
}

void TestEncoderLoudness::matchesEbur128()
{
    QFETCH(QString, source);
    QFETCH(QString, name);
    const QString input = dir.filePath(name);
    const QString output = dir.filePath(name + ".mp3");
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", source + ",atrim=duration=8", input}));
    double loudness = 0.0;
    double peak = 0.0;
    QVERIFY(stockLoudness(input, loudness, peak));

    const Run run = convert(input, 60, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonObject tags = mp3Tags(output);
    const QString gain = tags.value("REPLAYGAIN_TRACK_GAIN").toString();
    const QString ourPeak = tags.value("REPLAYGAIN_TRACK_PEAK").toString();
    QVERIFY2(QRegularExpression("^[+-]\\d+\\.\\d\\d dB$").match(gain).hasMatch(), qPrintable(gain));
    QVERIFY2(QRegularExpression("^\\d+\\.\\d{6}$").match(ourPeak).hasMatch(), qPrintable(ourPeak));
    QVERIFY2(qAbs(gain.chopped(3).toDouble() - (-18.0 - loudness)) <= 0.1,
             qPrintable(QStringLiteral("gain %1 for %2 LUFS").arg(gain).arg(loudness)));
    QVERIFY2(qAbs(ourPeak.toDouble() - peak) <= 0.001 + peak * 0.001,
             qPrintable(QStringLiteral("peak %1 for %2").arg(ourPeak).arg(peak)));
}

// Silence has no loudness: a peak of 0 and no made-up gain.
void TestEncoderLoudness::silenceHasNoGain()
{
    const QString input = dir.filePath("silence.wav");
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "anullsrc=duration=3", input}));
    const Run run = convert(input, 60, dir.filePath("silence.mp3"));
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonObject tags = mp3Tags(dir.filePath("silence.mp3"));
    QVERIFY(!tags.contains("REPLAYGAIN_TRACK_GAIN"));
    QCOMPARE(tags.value("REPLAYGAIN_TRACK_PEAK").toString(), QStringLiteral("0.000000"));
}

// The input's album values stay; its track values are measured anew.
void TestEncoderLoudness::albumValuesCarried()
{
    const QString input = dir.filePath("album.flac");
    fixtures::Tone tone;
    tone.outputOptions = {"-metadata", "REPLAYGAIN_ALBUM_GAIN=-3.21 dB", "-metadata", "REPLAYGAIN_ALBUM_PEAK=0.654321",
                          "-metadata", "REPLAYGAIN_TRACK_GAIN=+40.00 dB"};
    QVERIFY(fixtures::makeTone(input, tone));
    const Run run = convert(input, 60, dir.filePath("album.mp3"));
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonObject tags = mp3Tags(dir.filePath("album.mp3"));
    QCOMPARE(tags.value("REPLAYGAIN_ALBUM_GAIN").toString(), QStringLiteral("-3.21 dB"));
    QCOMPARE(tags.value("REPLAYGAIN_ALBUM_PEAK").toString(), QStringLiteral("0.654321"));
    QVERIFY(tags.value("REPLAYGAIN_TRACK_GAIN").toString() != QStringLiteral("+40.00 dB"));
}

QTEST_GUILESS_MAIN(TestEncoderLoudness)
#include "tst_encoderloudness.moc"
