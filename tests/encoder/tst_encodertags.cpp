// Tags and cover of the input carried over into the MP3's ID3v2.3 tag, and
// the loudness measured while encoding.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace encodertool;

namespace {

using TagMap = QMap<QString, QString>;

const TagMap allTags{{"title", QStringLiteral("Tïtle ☃ \U0001D11E")}, {"artist", "Artist"}, {"album", "Album"},
                     {"album_artist", "Album Artist"}, {"track", "3/12"}, {"disc", "1/2"},
                     {"date", "2021-05-04"}, {"genre", "Rock"}, {"comment", "A comment"}};

QStringList metadataOptions(const TagMap &tags)
{
    QStringList options;
    for (auto it = tags.begin(); it != tags.end(); ++it)
        options << "-metadata" << it.key() + "=" + it.value();
    return options;
}

TagMap only(std::initializer_list<const char *> keys)
{
    TagMap tags;
    for (const char *key : keys)
        tags.insert(key, allTags.value(key));
    return tags;
}

// What tagtool.py writes, as the MP3's ID3v2.3 frames should carry it.
const QMap<QString, QString> everyFrame{
    {"TIT2", QStringLiteral("T\u00eftle \u2603")}, {"TPE1", QStringLiteral("\u00c4rtist")}, {"TALB", "Album"},
    {"TPE2", "Album Artist"}, {"TRCK", "3/12"}, {"TPOS", "1/2"}, {"TYER", "2021"}, {"TDAT", "0405"}, {"TCON", "Rock"},
    {"TCOM", "Composer"}, {"COMM::eng", "A comment"}, {"USLT::eng", "Line one\nLine two"}, {"TCMP", "1"},
    {"TSOT", "Title Sort"}, {"TSOP", "Artist Sort"}, {"TSOA", "Album Sort"}, {"TSO2", "Album Artist Sort"},
    {"TSOC", "Composer Sort"}, {"UFID:http://musicbrainz.org", "1c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Album Id", "2c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Artist Id", "3c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Album Artist Id", "4c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Release Group Id", "5c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Release Track Id", "6c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"},
    {"TXXX:MusicBrainz Work Id", "7c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1"}};

// Frames by name from everyFrame, or "NAME=value".
TagMap frames(const QStringList &names)
{
    TagMap result;
    for (const QString &name : names) {
        const int equals = name.indexOf('=');
        result.insert(name.left(equals), equals < 0 ? everyFrame.value(name) : name.mid(equals + 1));
    }
    return result;
}

// tagtool.py: writes tags with mutagen, reads them back as JSON.
QByteArray tagtool(const QStringList &arguments)
{
    QProcess process;
    process.start("/usr/bin/python3", QStringList{TAGTOOL} + arguments);
    process.waitForFinished(60000);
    return process.exitCode() == 0 ? process.readAllStandardOutput() : "failed: " + process.readAllStandardError();
}

QByteArray head(const QString &path, int bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
}

// The stock ffmpeg's integrated loudness (LUFS) and largest sample (linear).
bool stockLoudness(const QString &file, double &loudness, double &peak)
{
    QProcess process;
    process.start(fixtures::stockFfmpeg(), {"-nostdin", "-v", "error", "-i", file, "-af",
                                            "ebur128=metadata=1,astats=metadata=1:reset=0,ametadata=print:file=-",
                                            "-f", "null", "-"});
    process.waitForFinished(120000);
    const QString log = QString::fromUtf8(process.readAllStandardOutput());
    const auto last = [&log](const QString &key) {
        QString value;
        for (auto it = QRegularExpression(QRegularExpression::escape(key) + "=(\\S+)").globalMatch(log); it.hasNext();)
            value = it.next().captured(1);
        return value;
    };
    loudness = last("lavfi.r128.I").toDouble();
    peak = std::pow(10.0, last("lavfi.astats.Overall.Peak_level").toDouble() / 20.0);
    return process.exitCode() == 0 && !last("lavfi.r128.I").isEmpty();
}

QJsonObject mp3Tags(const QString &file)
{
    return describeMedia(file).value("format").toObject().value("tags").toObject();
}

} // namespace

class TestEncoderTags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void tagsCarriedOver_data();
    void tagsCarriedOver();
    void everyTagCarried_data();
    void everyTagCarried();
    void coverCarriedOver();
    void folderCover_data();
    void folderCover();
    void untaggedGetsOnlyLoudness();
    void loudnessMatchesEbur128_data();
    void loudnessMatchesEbur128();
    void albumLoudnessCarried();
    void infoLinesDescribeTheTrack_data();
    void infoLinesDescribeTheTrack();

private:
    QTemporaryDir dir;
};

void TestEncoderTags::tagsCarriedOver_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<TagMap>("expected");

    QTest::newRow("flac vorbis comments") << "a.flac" << QStringList() << allTags;
    QTest::newRow("ogg vorbis comments") << "a.ogg" << QStringList{"-c:a", "libvorbis"} << allTags;
    QTest::newRow("opus comments") << "a.opus" << QStringList() << allTags;
    QTest::newRow("mp3 id3v2.4") << "a.mp3" << QStringList() << allTags;
    QTest::newRow("m4a atoms") << "a.m4a" << QStringList() << allTags;
    QTest::newRow("aiff id3 chunk") << "a.aiff" << QStringList{"-write_id3v2", "1"} << allTags;
    // RIFF INFO has no album artist and no disc.
    QTest::newRow("wav riff info") << "a.wav" << QStringList()
                                   << only({"title", "artist", "album", "track", "date", "genre", "comment"});
}

void TestEncoderTags::tagsCarriedOver()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(TagMap, expected);

    const QString input = dir.filePath(name);
    const QString output = dir.filePath(name + ".mp3");
    fixtures::Tone tone;
    tone.seconds = 1.0;
    tone.outputOptions = options + metadataOptions(expected);
    QString error;
    QVERIFY2(fixtures::makeTone(input, tone, &error), qPrintable(error));

    const Run run = convert(input, 30, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));

    const QByteArray bytes = head(output, 4096);
    QVERIFY(bytes.startsWith(QByteArray("ID3\x03\x00", 5)));
    QVERIFY2(bytes.contains("COMM"), "the comment belongs in a COMM frame, where players look");
    const QJsonObject tags = describeMedia(output).value("format").toObject().value("tags").toObject();
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(tags.value(it.key()).toString(), it.value());
}

void TestEncoderTags::everyTagCarried_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<TagMap>("expected");
    QTest::addColumn<QString>("picture"); // "front", "back" (the first of two without types) or none

    const QStringList all = everyFrame.keys();
    QTest::newRow("flac") << "flac" << "t.flac" << QStringList() << frames(all) << "front";
    QTest::newRow("vorbis") << "vorbis" << "t.ogg" << QStringList{"-c:a", "libvorbis"} << frames(all) << "front";
    QTest::newRow("opus") << "opus" << "t.opus" << QStringList() << frames(all) << "front";
    QTest::newRow("id3v2.4") << "id3v24" << "t4.mp3" << QStringList() << frames(all) << "front";
    QTest::newRow("id3v2.3") << "id3v23" << "t3.mp3" << QStringList() << frames(all) << "front";
    QTest::newRow("id3v2.2") << "id3v22" << "t2.mp3" << QStringList()
                             << frames({"TIT2", "TPE1", "TALB", "TPE2", "TRCK", "TPOS", "TYER", "TCON", "TCOM",
                                        "COMM::eng"})
                             << "front";
    QTest::newRow("mp4") << "mp4" << "t.m4a" << QStringList() << frames(all) << "back";
    QTest::newRow("ape (wavpack)") << "ape" << "t.wv" << QStringList() << frames(all) << "front";
    QTest::newRow("ape (mp3)") << "ape" << "ta.mp3" << QStringList{"-id3v2_version", "0"} << frames(all) << "front";
    // ASF keeps the year alone, and this writer no track total.
    TagMap asf = frames(all + QStringList{"TRCK=3"});
    asf.remove("TDAT");
    QTest::newRow("asf") << "asf" << "t.wma" << QStringList{"-c:a", "wmav2"} << asf << "none";
    QTest::newRow("riff info") << "riff" << "t.wav" << QStringList()
                               << frames({"TIT2=Title", "TPE1", "TALB", "TRCK", "TYER", "TDAT", "TCON", "COMM::eng"})
                               << "none";
    QTest::newRow("aiff chunks") << "aiff" << "t.aiff" << QStringList()
                                 << frames({"TIT2=Title", "TPE1=Artist", "TCOP=2021 Someone", "COMM::eng"}) << "none";
}

// One generated file per container with every field its tags can hold,
// written and read back by mutagen, independently of our reader and writer.
void TestEncoderTags::everyTagCarried()
{
    QFETCH(QString, format);
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(TagMap, expected);
    QFETCH(QString, picture);
    const QString input = dir.filePath(name);
    const QString output = input + ".mp3";
    for (const char *color : {"red", "green"})
        QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", QStringLiteral("color=%1:size=8x8").arg(color),
                                          "-frames:v", "1", dir.filePath(color + QStringLiteral(".png"))}));
    QVERIFY(fixtures::runStockFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=duration=1", "-map_metadata", "-1",
                                                 "-fflags", "+bitexact"} + options + QStringList{input}));
    QCOMPARE(tagtool({"write", format, input, dir.filePath("red.png"), dir.filePath("green.png")}), QByteArray());

    const Run run = convert(input, 30, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QByteArray json = tagtool({"read", output});
    const QJsonObject tag = QJsonDocument::fromJson(json).object();
    QVERIFY2(!tag.isEmpty(), json.constData());
    QCOMPARE(tag.value("version").toArray(), QJsonArray({2, 3, 0}));
    QJsonObject read = tag.value("frames").toObject();
    const QJsonObject cover = read.take("APIC").toObject();
    TagMap actual;
    for (auto it = read.begin(); it != read.end(); ++it)
        if (!it.key().startsWith("TXXX:REPLAYGAIN_TRACK_"))
            actual.insert(it.key(), it.value().isString() ? it.value().toString()
                                                          : it.value().toObject().value("text").toString());
    QCOMPARE(actual, expected);
    // ISO-8859-1 where the text fits it, UTF-16 where it does not.
    const auto encoding = [&read](const char *frame) { return read.value(frame).toObject().value("encoding").toInt(); };
    if (expected.value("TPE1").startsWith(QChar(0xC4)))
        QCOMPARE(encoding("TPE1"), 0);
    if (expected.value("TIT2").contains(QChar(0x2603)))
        QCOMPARE(encoding("TIT2"), 1);
    if (picture == "none")
        QVERIFY(cover.isEmpty());
    else
        QCOMPARE(QByteArray::fromHex(cover.value("data").toString().toLatin1()),
                 head(dir.filePath(picture == "front" ? "green.png" : "red.png"), 1 << 20));
}

void TestEncoderTags::coverCarriedOver()
{
    const QString picture = dir.filePath("cover.png");
    const QString input = dir.filePath("covered.flac");
    const QString output = dir.filePath("covered.mp3");
    const QString extracted = dir.filePath("extracted.png");
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1", picture}));
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-i", picture, "-map", "0", "-map",
                                      "1", "-c:v", "copy", "-disposition:v", "attached_pic", input}));

    const Run run = convert(input, 30, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY(fixtures::runStockFfmpeg({"-i", output, "-map", "0:v", "-c", "copy", "-f", "image2", extracted}));
    QCOMPARE(head(extracted, 1 << 20), head(picture, 1 << 20));
}

void TestEncoderTags::folderCover_data()
{
    QTest::addColumn<QStringList>("files"); // "name=color" makes an image, "name=text" a text file, "name=fifo"
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<QString>("expected"); // the file the MP3's front cover comes from, or none

    QTest::newRow("cover before folder before front, any case; an image only by its first bytes")
        << QStringList{"Front.png=red", "FOLDER.JPG=green", "folder.png=blue", "cover.png=text", "Cover.txt=red"}
        << false << "FOLDER.JPG";
    QTest::newRow("jpeg before png") << QStringList{"cover.png=red", "Cover.jpeg=green"} << false << "Cover.jpeg";
    QTest::newRow("a FIFO is no cover") << QStringList{"cover.jpg=fifo"} << false << "";
    QTest::newRow("the embedded picture wins") << QStringList{"cover.jpg=green"} << true << "embedded.png";
}

// The album folder's image for an input without a picture of its own.
void TestEncoderTags::folderCover()
{
    QFETCH(QStringList, files);
    QFETCH(bool, embedded);
    QFETCH(QString, expected);
    const QString folder = dir.filePath(QStringLiteral("folder%1").arg(QTest::currentDataTag()).remove(' '));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &file : files) {
        const QString name = folder + "/" + file.section('=', 0, 0);
        const QString kind = file.section('=', 1);
        if (kind == "fifo")
            QCOMPARE(QProcess::execute("mkfifo", {name}), 0);
        else if (kind == "text")
            QVERIFY(QFile(name).open(QIODevice::WriteOnly) && QFile(name).resize(100));
        else
            QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "color=" + kind + ":size=8x8", "-frames:v", "1",
                                              "-f", "image2", "-c:v", name.endsWith("png", Qt::CaseInsensitive)
                                              ? "png" : "mjpeg", name}));
    }
    const QString input = folder + "/in.flac";
    QStringList make{"-f", "lavfi", "-i", "sine=duration=1"};
    if (embedded) {
        QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", "color=red:size=8x8", "-frames:v", "1",
                                          folder + "/embedded.png"}));
        make << "-i" << folder + "/embedded.png" << "-map" << "0" << "-map" << "1" << "-c:v" << "copy"
             << "-disposition:v" << "attached_pic";
    }
    QVERIFY(fixtures::runStockFfmpeg(make << input));

    const Run run = convert(input, 30, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonObject cover =
        QJsonDocument::fromJson(tagtool({"read", input + ".mp3"})).object().value("frames").toObject().value("APIC").toObject();
    if (expected.isEmpty()) {
        QVERIFY(cover.isEmpty());
        return;
    }
    QCOMPARE(cover.value("type").toInt(), 3);
    QCOMPARE(QByteArray::fromHex(cover.value("data").toString().toLatin1()), head(folder + "/" + expected, 1 << 20));
}

// An input without tags gets a tag holding only its loudness.
void TestEncoderTags::untaggedGetsOnlyLoudness()
{
    const QString input = dir.filePath("plain.wav");
    const QString output = dir.filePath("plain.mp3");
    fixtures::Tone tone;
    tone.seconds = 1.0;
    tone.outputOptions = {"-fflags", "+bitexact"}; // no encoder tag either
    QVERIFY(fixtures::makeTone(input, tone));

    const Run run = convert(input, 30, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QCOMPARE(mp3Tags(output).keys(), QStringList({"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"}));
}

void TestEncoderTags::loudnessMatchesEbur128_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("name");
    QTest::newRow("quiet 1 kHz tone, stereo") << "sine=frequency=1000,volume=0.05,aformat=channel_layouts=stereo" << "a.wav";
    QTest::newRow("loud 100 Hz tone, 48 kHz mono") << "sine=frequency=100:sample_rate=48000,volume=7" << "b.flac";
    QTest::newRow("pink noise, stereo") << "anoisesrc=color=pink:amplitude=0.3:seed=3,aformat=channel_layouts=stereo" << "c.flac";
    // Loud and quiet seconds by turns: the gating decides.
    QTest::newRow("pink noise in bursts, stereo")
        << "anoisesrc=color=pink:amplitude=0.3:seed=4,volume=volume='if(lt(mod(t\\,2)\\,1)\\,1\\,0.03)':eval=frame,"
           "aformat=channel_layouts=stereo"
        << "g.wav";
    QTest::newRow("full-scale white noise, 32 kHz") << "anoisesrc=amplitude=1:sample_rate=32000:seed=5" << "d.wav";
    QTest::newRow("very quiet brown noise") << "anoisesrc=color=brown:amplitude=0.002:seed=9" << "e.flac";
    QTest::newRow("silence") << "anullsrc" << "f.wav";
}

// ReplayGain 2.0 against the stock ffmpeg's EBU R128 and peak measurement of
// the input. Silence has no loudness (the stock filter says -70 LUFS, its
// gate): a peak of 0 and no made-up gain.
void TestEncoderTags::loudnessMatchesEbur128()
{
    QFETCH(QString, source);
    QFETCH(QString, name);
    const QString input = dir.filePath(name);
    QVERIFY(fixtures::runStockFfmpeg({"-f", "lavfi", "-i", source + ",atrim=duration=8", input}));
    double loudness = 0.0;
    double peak = 0.0;
    QVERIFY(stockLoudness(input, loudness, peak));

    const Run run = convert(input, 60, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QJsonObject tags = mp3Tags(input + ".mp3");
    const QString gain = tags.value("REPLAYGAIN_TRACK_GAIN").toString();
    const QString ourPeak = tags.value("REPLAYGAIN_TRACK_PEAK").toString();
    QVERIFY2(QRegularExpression("^\\d+\\.\\d{6}$").match(ourPeak).hasMatch(), qPrintable(ourPeak));
    QVERIFY2(qAbs(ourPeak.toDouble() - peak) <= 0.001 + peak * 0.001, qPrintable(ourPeak + " for " + QString::number(peak)));
    QCOMPARE(tags.contains("REPLAYGAIN_TRACK_GAIN"), loudness > -70.0);
    if (loudness <= -70.0)
        return;
    QVERIFY2(QRegularExpression("^[+-]\\d+\\.\\d\\d dB$").match(gain).hasMatch(), qPrintable(gain));
    QVERIFY2(qAbs(gain.chopped(3).toDouble() - (-18.0 - loudness)) <= 0.1,
             qPrintable(QStringLiteral("gain %1 for %2 LUFS").arg(gain).arg(loudness)));
}

// The input's album values stay; its track values are measured anew.
void TestEncoderTags::albumLoudnessCarried()
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

void TestEncoderTags::infoLinesDescribeTheTrack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("samples");
    QTest::addColumn<double>("tolerance"); // seconds
    QTest::newRow("44.1 kHz, exact") << "info.flac" << 44100 << 52921 << 1e-6;
    QTest::newRow("96 kHz, encoded at 48 kHz") << "info96.flac" << 96000 << 115203 << 2.0 / 48000;
}

// The "Info" lines the program's playlists and album gain read: tag values
// on one line each, numbers without totals, the exact length.
void TestEncoderTags::infoLinesDescribeTheTrack()
{
    QFETCH(QString, name);
    QFETCH(int, rate);
    QFETCH(int, samples);
    QFETCH(double, tolerance);
    const QString title = QStringLiteral("50% off\nT\u00eftle");
    const QString input = dir.filePath(name);
    QVERIFY(fixtures::runStockFfmpeg(
        {"-f", "lavfi", "-i", QStringLiteral("sine=sample_rate=%1,atrim=end_sample=%2").arg(rate).arg(samples),
         "-metadata", "title=" + title, "-metadata", "artist=Artist", "-metadata", "album=Album", "-metadata",
         "track=3/12", "-metadata", "disc=1/2", input}));

    const Run run = convert(input, 30, input + ".mp3");
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QMap<QString, QString> info;
    const QList<QByteArray> lines = run.out.split('\n');
    int lastInfo = -1;
    for (const QByteArray &line : lines) {
        if (line.startsWith(toolcontract::kInfoPrefix)) {
            lastInfo = int(&line - lines.data());
            const QByteArray rest = line.mid(int(qstrlen(toolcontract::kInfoPrefix)));
            const QByteArray key = rest.left(rest.indexOf(' '));
            QVERIFY2(!info.contains(key), line.constData());
            info.insert(key, QString::fromStdString(toolcontract::decodeLineText(rest.mid(key.size() + 1).toStdString())));
        }
    }
    QVERIFY2(lines.indexOf(toolcontract::kSuccessMarker) > lastInfo, "the Info lines come before the success marker");
    QCOMPARE(info.value("title"), title);
    QCOMPARE(info.value("artist"), QStringLiteral("Artist"));
    QCOMPARE(info.value("album"), QStringLiteral("Album"));
    QCOMPARE(info.value("track"), QStringLiteral("3"));
    QCOMPARE(info.value("disc"), QStringLiteral("1"));
    QVERIFY2(qAbs(info.value("seconds").toDouble() - double(samples) / rate) <= tolerance,
             qPrintable(info.value("seconds")));
    QVERIFY(!info.value("loudness").isEmpty());
}

QTEST_GUILESS_MAIN(TestEncoderTags)
#include "tst_encodertags.moc"
