// Tags and cover of the input carried over into the MP3's ID3v2.3 tag.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

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
    {"TXXX:MusicBrainz Album Id", "2d4c1eec-6c47-4f1d-b1b4-7c2e6b5aa1e2"},
    {"TXXX:MusicBrainz Artist Id", "3e5d2ffd-7d58-4a2e-82c5-8d3f7c6bb2f3"},
    {"TXXX:MusicBrainz Album Artist Id", "4f6e3a0e-8e69-4b3f-93d6-9e4a8d7cc3a4"},
    {"TXXX:MusicBrainz Release Group Id", "5a7f4b1f-9f7a-4c4a-a4e7-af5b9e8dd4b5"},
    {"TXXX:MusicBrainz Release Track Id", "6b8a5c2a-a08b-4d5b-b5f8-b06caf9ee5c6"},
    {"TXXX:MusicBrainz Work Id", "7c9b6d3b-b19c-4e6c-86a9-c17dba0ff6d7"}};

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
    void untaggedGetsOnlyLoudness();

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
    // TagLib maps no compilation flag and no composer sort name for ASF.
    QStringList asf = all;
    for (const char *missing : {"TCMP", "TSOC", "TDAT", "TXXX:MusicBrainz Album Artist Id",
                                "TXXX:MusicBrainz Release Group Id", "TXXX:MusicBrainz Release Track Id",
                                "TXXX:MusicBrainz Work Id"})
        asf.removeOne(missing);
    asf.replace(asf.indexOf("TRCK"), "TRCK=3");
    QTest::newRow("asf") << "asf" << "t.wma" << QStringList{"-c:a", "wmav2"} << frames(asf) << "none";
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
    const QJsonObject tags = describeMedia(output).value("format").toObject().value("tags").toObject();
    QCOMPARE(tags.keys(), QStringList({"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"}));
}

QTEST_GUILESS_MAIN(TestEncoderTags)
#include "tst_encodertags.moc"
