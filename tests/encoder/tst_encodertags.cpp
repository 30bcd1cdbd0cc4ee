// Tags and cover of the input carried over into the MP3's ID3v2.3 tag.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QFile>
#include <QJsonArray>
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
