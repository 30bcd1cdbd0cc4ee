// The album gain: the loudness the conversions reported, gated together and
// written into each MP3's ID3v2 tag, against the stock ffmpeg's EBU R128
// measurement of the album's tracks one after the other.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace encodertool;

namespace {

// Three tracks of different loudness and length, 44.1 kHz stereo: in the
// album of all three the quiet one lies below the relative gate. The stock
// filter measures them one after the other, with blocks that straddle two
// tracks; tracks of half a minute keep those few.
const QStringList trackSources{
    "anoisesrc=color=pink:amplitude=0.5:seed=2:duration=30:sample_rate=44100",
    "anoisesrc=color=pink:amplitude=0.05:seed=1:duration=20:sample_rate=44100",
    "sine=frequency=440:duration=15,volume=0.6"};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything after the ID3v2 tag at the start: the audio.
QByteArray audioOf(const QByteArray &bytes)
{
    if (!bytes.startsWith("ID3") || bytes.size() < 10)
        return bytes;
    int size = 10;
    for (int i = 6; i < 10; ++i)
        size += (bytes[i] & 0x7F) << (7 * (9 - i));
    return bytes.mid(size);
}

QByteArray audioBytes(const QString &path)
{
    return audioOf(fileBytes(path));
}

QJsonObject mp3Tags(const QString &file)
{
    return describeMedia(file).value("format").toObject().value("tags").toObject();
}

// The stock ffmpeg's integrated loudness of the files played one after the
// other, at full precision.
double stockAlbumLoudness(const QStringList &files)
{
    QStringList arguments{"-nostdin", "-v", "error"};
    for (const QString &file : files)
        arguments << "-i" << file;
    arguments << "-filter_complex"
              << QStringLiteral("concat=n=%1:v=0:a=1,ebur128=metadata=1,ametadata=print:key=lavfi.r128.I:file=-")
                     .arg(files.size())
              << "-f" << "null" << "-";
    QProcess process;
    process.start(fixtures::stockFfmpeg(), arguments);
    process.waitForFinished(120000);
    const QString log = QString::fromUtf8(process.readAllStandardOutput());
    QString last;
    for (auto it = QRegularExpression("lavfi.r128.I=(\\S+)").globalMatch(log); it.hasNext();)
        last = it.next().captured(1);
    return last.isEmpty() ? 1.0 : last.toDouble();
}

Run albumGain(const QStringList &mp3s, const QByteArray &input)
{
    QProcess process;
    Run run;
    process.start(path(), QStringList{toolcontract::kAlbumGainOption} + mp3s);
    process.write(input);
    process.closeWriteChannel();
    run.finished = process.waitForFinished(60000);
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestEncoderAlbumGain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void albumGainMatchesEbur128();
    void tagWithoutRoomIsRewritten();
    void refusesWhatItCannotRead_data();
    void refusesWhatItCannotRead();
    void stopsCleanly();

private:
    QString track(int i) const { return dir.filePath(QStringLiteral("t%1.wav").arg(i)); }
    QString mp3(int i) const { return dir.filePath(QStringLiteral("t%1.mp3").arg(i)); }
    QByteArray lines(std::initializer_list<int> tracks) const;

    QTemporaryDir dir;
    QByteArray loudness[3];
};

void TestEncoderAlbumGain::initTestCase()
{
    QVERIFY(dir.isValid());
    for (int i = 0; i < 3; ++i) {
        QVERIFY(fixtures::runStockFfmpeg(
            {"-f", "lavfi", "-i", trackSources[i] + ",aformat=channel_layouts=stereo", "-metadata",
             QStringLiteral("title=Track %1").arg(i), track(i)}));
        const Run run = convert(track(i), 30, mp3(i));
        QVERIFY2(run.succeeded(), qPrintable(run.describe()));
        for (const QByteArray &line : run.out.split('\n'))
            if (line.startsWith("Info loudness "))
                loudness[i] = line.mid(14);
        QVERIFY(!loudness[i].isEmpty());
    }
}

QByteArray TestEncoderAlbumGain::lines(std::initializer_list<int> tracks) const
{
    QByteArray text;
    for (const int i : tracks)
        text += loudness[i] + '\n';
    return text;
}

// In place, within the room the conversion left: the audio does not move.
// A second album of a subset replaces the first one's values.
void TestEncoderAlbumGain::albumGainMatchesEbur128()
{
    for (const auto &album : {QVector<int>{0, 1, 2}, QVector<int>{0, 2}}) {
        QStringList mp3s, wavs;
        QByteArray input;
        for (const int i : album) {
            mp3s << mp3(i);
            wavs << track(i);
            input += loudness[i] + '\n';
        }
        QVector<QByteArray> before;
        for (const QString &file : mp3s)
            before << fileBytes(file);
        const Run run = albumGain(mp3s, input);
        QVERIFY2(run.succeeded(), qPrintable(run.describe()));

        const double expected = -18.0 - stockAlbumLoudness(wavs);
        double largestPeak = 0.0;
        for (const QString &file : mp3s)
            largestPeak = qMax(largestPeak, mp3Tags(file).value("REPLAYGAIN_TRACK_PEAK").toString().toDouble());
        for (int k = 0; k < mp3s.size(); ++k) {
            const QJsonObject tags = mp3Tags(mp3s[k]);
            const QString gain = tags.value("REPLAYGAIN_ALBUM_GAIN").toString();
            QVERIFY2(QRegularExpression("^[+-]\\d+\\.\\d\\d dB$").match(gain).hasMatch(), qPrintable(gain));
            QVERIFY2(qAbs(gain.chopped(3).toDouble() - expected) <= 0.1,
                     qPrintable(QStringLiteral("%1 for %2").arg(gain).arg(expected)));
            QCOMPARE(tags.value("REPLAYGAIN_ALBUM_PEAK").toString().toDouble(), largestPeak);
            QCOMPARE(tags.value("title").toString(), QStringLiteral("Track %1").arg(album[k]));
            const QByteArray after = fileBytes(mp3s[k]);
            QCOMPARE(after.size(), before[k].size());
            QCOMPARE(audioOf(after), audioOf(before[k]));
            QCOMPARE(after.count("REPLAYGAIN_ALBUM_GAIN"), 1);
            QCOMPARE(after.count("REPLAYGAIN_ALBUM_PEAK"), 1);
        }
    }
}

// MP3s with no tag, or a tag without padding, get a larger one through a
// copy that replaces them: same audio, same permissions, nothing left over.
void TestEncoderAlbumGain::tagWithoutRoomIsRewritten()
{
    const QString folder = dir.filePath("stock");
    QVERIFY(QDir().mkpath(folder));
    const QStringList mp3s{folder + "/untagged.mp3", folder + "/tagged.mp3"};
    QVERIFY(fixtures::runStockFfmpeg({"-i", track(0), "-id3v2_version", "0", mp3s[0]}));
    QVERIFY(fixtures::runStockFfmpeg({"-i", track(1), "-metadata", "title=Stock", mp3s[1]}));
    QVERIFY(QFile::setPermissions(mp3s[0], QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const QByteArray audio[] = {audioBytes(mp3s[0]), audioBytes(mp3s[1])};
    const QFileDevice::Permissions permissions = QFile::permissions(mp3s[0]);

    const Run run = albumGain(mp3s, lines({0, 1}));
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    for (int k = 0; k < 2; ++k) {
        QCOMPARE(audioBytes(mp3s[k]), audio[k]);
        QVERIFY(mp3Tags(mp3s[k]).contains("REPLAYGAIN_ALBUM_GAIN"));
    }
    QCOMPARE(mp3Tags(mp3s[1]).value("title").toString(), QStringLiteral("Stock"));
    QCOMPARE(QFile::permissions(mp3s[0]), permissions);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"tagged.mp3", "untagged.mp3"}));
}

void TestEncoderAlbumGain::refusesWhatItCannotRead_data()
{
    QTest::addColumn<bool>("missingMp3");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("a line too few") << false << QByteArray(lines({0}));
    QTest::newRow("a line not from the tool") << false << QByteArray(lines({0}) + "-12.3 LUFS\n");
    QTest::newRow("a damaged line") << false << QByteArray(lines({0}) + loudness[1].chopped(3) + '\n');
    QTest::newRow("an MP3 that is not there") << true << QByteArray(lines({0, 1}));
}

// One reason, and no MP3 changed: every one is checked before any is written.
void TestEncoderAlbumGain::refusesWhatItCannotRead()
{
    QFETCH(bool, missingMp3);
    QFETCH(QByteArray, input);
    const QByteArray before = fileBytes(mp3(0));
    const Run run = albumGain({mp3(0), missingMp3 ? dir.filePath("missing.mp3") : mp3(1)}, input);
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QVERIFY(run.err.startsWith(toolcontract::kReasonPrefix));
    QCOMPARE(fileBytes(mp3(0)), before);
}

// Stopped while it waits for its input, it ends by the signal and changes
// nothing.
void TestEncoderAlbumGain::stopsCleanly()
{
    const QByteArray before = fileBytes(mp3(0));
    QProcess process;
    process.start(path(), {toolcontract::kAlbumGainOption, mp3(0)});
    QVERIFY(process.waitForStarted());
    QTest::qWait(300);
    process.terminate();
    QVERIFY(process.waitForFinished(toolcontract::kStopGraceMs));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QVERIFY(!process.readAllStandardOutput().contains(toolcontract::kSuccessMarker));
    QCOMPARE(fileBytes(mp3(0)), before);
}

QTEST_GUILESS_MAIN(TestEncoderAlbumGain)
#include "tst_encoderalbumgain.moc"
