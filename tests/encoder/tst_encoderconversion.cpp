// Conversions that must work: every input format and sample rate gives an
// MP3 of the same length (within one MP3 frame), the same tone at the same
// level, with a Xing/LAME header; the quality value orders file sizes.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace encodertool;

class TestEncoderConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void conversion_data();
    void conversion();
    void exactLength_data();
    void exactLength();
    void videoGivesAudioOnly();
    void qualityNeverShrinksFile();

private:
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestEncoderConversion::conversion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("mp3Rate");

    QTest::newRow("wav 8-bit mono") << "u8.wav" << QStringList{"-c:a", "pcm_u8"} << 1 << 44100 << 44100;
    QTest::newRow("wav 16-bit stereo") << "s16.wav" << QStringList{"-c:a", "pcm_s16le"} << 2 << 44100 << 44100;
    QTest::newRow("wav 24-bit stereo") << "s24.wav" << QStringList{"-c:a", "pcm_s24le"} << 2 << 44100 << 44100;
    QTest::newRow("wav 32-bit stereo") << "s32.wav" << QStringList{"-c:a", "pcm_s32le"} << 2 << 44100 << 44100;
    QTest::newRow("wav float stereo") << "f32.wav" << QStringList{"-c:a", "pcm_f32le"} << 2 << 44100 << 44100;
    QTest::newRow("wav 16-bit 5.1") << "surround.wav" << QStringList{"-c:a", "pcm_s16le"} << 6 << 48000 << 48000;
    QTest::newRow("flac") << "a.flac" << QStringList() << 2 << 44100 << 44100;
    QTest::newRow("ogg vorbis") << "a.ogg" << QStringList{"-c:a", "libvorbis"} << 2 << 44100 << 44100;
    QTest::newRow("opus") << "a.opus" << QStringList() << 2 << 48000 << 48000;
    QTest::newRow("mp3") << "a.mp3" << QStringList() << 2 << 44100 << 44100;
    QTest::newRow("aac in m4a") << "a.m4a" << QStringList() << 2 << 44100 << 44100;
    QTest::newRow("aiff") << "a.aiff" << QStringList() << 1 << 22050 << 22050;

    // Rates LAME takes stay; others go to the nearest one it takes.
    for (const auto &[rate, mp3Rate] : QList<std::pair<int, int>>{{8000, 8000}, {11025, 11025}, {12345, 12000},
                                                                   {32000, 32000}, {64000, 48000}, {88200, 48000},
                                                                   {96000, 48000}, {192000, 48000}})
        QTest::addRow("wav %d Hz", rate) << QStringLiteral("rate%1.wav").arg(rate) << QStringList() << 2 << rate
                                         << mp3Rate;
}

void TestEncoderConversion::conversion()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(int, mp3Rate);

    const QString input = file(name);
    const QString output = file(name + ".mp3");
    fixtures::Tone tone;
    tone.channels = channels;
    tone.sampleRate = sampleRate;
    tone.outputOptions = options;
    QString error;
    QVERIFY2(fixtures::makeTone(input, tone, &error), qPrintable(error));

    const Run run = convert(input, 60, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY2(otherErrorLines(run.err).isEmpty(), run.err.constData());

    const QJsonObject media = describeMedia(output);
    const QJsonArray streams = media.value("streams").toArray();
    QCOMPARE(streams.size(), 1);
    QCOMPARE(streams[0]["codec_name"].toString(), QStringLiteral("mp3"));
    QCOMPARE(streams[0]["channels"].toInt(), qMin(channels, 2));
    QCOMPARE(streams[0]["sample_rate"].toString().toInt(), mp3Rate);

    // Gapless: encoder delay and padding are recorded and removed again.
    const Levels in = measure(input, channels > 2);
    const Levels out = measure(output);
    QVERIFY2(qAbs(out.seconds() - in.seconds()) <= 1152.0 / mp3Rate,
             qPrintable(QStringLiteral("%1 s from %2 s").arg(out.seconds()).arg(in.seconds())));
    QVERIFY2(qAbs(out.rmsDb - in.rmsDb) <= 1.0, qPrintable(QStringLiteral("%1 dB from %2 dB").arg(out.rmsDb).arg(in.rmsDb)));
    // Still a 1 kHz tone: nearly all of it passes a band-pass around 1 kHz.
    QVERIFY2(out.rmsDb - out.oneKilohertzDb <= 1.0,
             qPrintable(QStringLiteral("%1 dB of %2 dB near 1 kHz").arg(out.oneKilohertzDb).arg(out.rmsDb)));

    // A Xing ("Xing" for VBR, "Info" for constant) frame with LAME's tag
    // gives players the length; ffprobe reads the length from it.
    QFile mp3(output);
    QVERIFY(mp3.open(QIODevice::ReadOnly));
    const QByteArray head = mp3.read(4096);
    QVERIFY(head.contains("Xing") || head.contains("Info"));
    QVERIFY(head.contains("LAME"));
    // (The stated length includes the encoder's delay and padding.)
    const double statedSeconds = media.value("format").toObject().value("duration").toString().toDouble();
    QVERIFY2(statedSeconds >= in.seconds() && statedSeconds <= in.seconds() + 2 * 1152.0 / mp3Rate,
             qPrintable(QString::number(statedSeconds)));
}

void TestEncoderConversion::videoGivesAudioOnly()
{
    const QString input = file("clip.mp4");
    const QString output = file("clip.mp3");
    QVERIFY(makeVideo(input, true));

    const Run run = convert(input, 50, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonArray streams = describeMedia(output).value("streams").toArray();
    QCOMPARE(streams.size(), 1);
    QCOMPARE(streams[0]["codec_type"].toString(), QStringLiteral("audio"));
    QVERIFY(qAbs(measure(output).seconds() - measure(input).seconds()) <= 1152.0 / 44100);
}

void TestEncoderConversion::qualityNeverShrinksFile()
{
    const QString input = file("music.wav");
    QVERIFY(makeMusic(input, 5.0));

    qint64 previousSize = 0;
    qint64 smallest = 0;
    for (int quality : {0, 5, 9, 10, 20, 30, 40, 50, 55, 60, 70, 80, 89, 90, 95, 99}) {
        const QString output = file(QStringLiteral("music-%1.mp3").arg(quality));
        const Run run = convert(input, quality, output);
        QVERIFY2(run.succeeded(), qPrintable(run.describe()));
        const qint64 size = QFileInfo(output).size();
        QVERIFY2(size >= previousSize, qPrintable(QStringLiteral("-aq %1 gives %2 bytes, less than %3")
                                                      .arg(quality).arg(size).arg(previousSize)));
        previousSize = size;
        if (smallest == 0)
            smallest = size;
    }
    QVERIFY2(previousSize > 2 * smallest, "the quality scale should span LAME's VBR range");
}

void TestEncoderConversion::exactLength_data()
{
    QTest::addColumn<int>("samples");
    // Lengths that end just past a frame make LAME flush a frame of padding alone.
    for (int samples : {1, 1153, 1199, 2305, 44100 * 3 + 1})
        QTest::addRow("%d samples", samples) << samples;
}

// The MP3 decodes to exactly the input's samples (the tool checks its LAME
// header against them before the file gets its name).
void TestEncoderConversion::exactLength()
{
    QFETCH(int, samples);
    const QString input = file(QStringLiteral("exact%1.wav").arg(samples));
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "sine", "-af", QStringLiteral("atrim=end_sample=%1").arg(samples),
                                      "-ac", "2", input}));
    const Run run = convert(input, 40, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QCOMPARE(measure(input + ".mp3").samples, qint64(samples));
}

QTEST_GUILESS_MAIN(TestEncoderConversion)
#include "tst_encoderconversion.moc"
