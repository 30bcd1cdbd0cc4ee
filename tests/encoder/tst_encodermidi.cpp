// MIDI files rendered with FluidSynth: lengths (the probe's and the MP3's,
// release tail included), tempo maps, meta events as tags, and failures.

#include "audiofixtures.h"
#include "encodertool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace encodertool;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result += char(value);
    return result;
}

QByteArray number(quint32 value, int size)
{
    return QByteArray::fromHex(QByteArray::number(value, 16).rightJustified(2 * size, '0'));
}

QByteArray delta(quint32 ticks)
{
    QByteArray result(1, char(ticks & 0x7F));
    while (ticks >>= 7)
        result.prepend(char(0x80 | (ticks & 0x7F)));
    return result;
}

QByteArray meta(quint32 ticks, int type, const QByteArray &data)
{
    return delta(ticks) + bytes({0xFF, type}) + delta(data.size()) + data;
}

QByteArray midiFile(int format, quint16 division, const QList<QByteArray> &tracks)
{
    QByteArray file = "MThd" + number(6, 4) + number(format, 2) + number(tracks.size(), 2) + number(division, 2);
    for (const QByteArray &events : tracks)
        file += "MTrk" + number(events.size() + 4, 4) + events + meta(0, 0x2F, {});
    return file;
}

// A string chord held for `ticks`, the note-offs as note-ons of velocity 0 in running status.
QByteArray chord(quint32 ticks)
{
    return delta(0) + bytes({0xC0, 48}) + delta(0) + bytes({0x90, 60, 100}) + delta(0) + bytes({64, 100}) + delta(0)
        + bytes({67, 100}) + delta(ticks) + bytes({60, 0}) + delta(0) + bytes({64, 0}) + delta(0) + bytes({67, 0});
}

bool write(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

class TestEncoderMidi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void rendered_data();
    void rendered();
    void fails_data();
    void fails();

private:
    QTemporaryDir dir;
};

void TestEncoderMidi::rendered_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("midi");
    QTest::addColumn<double>("songSeconds");
    QTest::addColumn<QString>("title");

    const QByteArray tempo120 = meta(0, 0x51, bytes({0x07, 0xA1, 0x20}));
    QTest::newRow("format 0, 120 bpm") << "tune.mid"
        << midiFile(0, 480, {meta(0, 0x03, "Little Tune") + meta(0, 0x02, "(c) 2024 Tester") + tempo120 + chord(960)})
        << 1.0 << "Little Tune";
    // 960 ticks at 120 bpm, then 1440 at 60 bpm.
    QTest::newRow("format 1, tempo change") << "two.midi"
        << midiFile(1, 480, {meta(0, 0x03, "Two Tracks") + tempo120 + meta(960, 0x51, bytes({0x0F, 0x42, 0x40})),
                             meta(0, 0x03, "Piano") + chord(2400)})
        << 4.0 << "Two Tracks";
    // 25 frames of 40 ticks a second.
    QTest::newRow("SMPTE time, karaoke name") << "song.kar" << midiFile(0, 0xE728, {chord(1500)}) << 1.5 << "";
}

void TestEncoderMidi::rendered()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, midi);
    QFETCH(double, songSeconds);
    QFETCH(QString, title);
    const QString input = dir.filePath(name);
    const QString output = input + ".mp3";
    QVERIFY(write(input, midi));
    const double rendered = songSeconds + 2.0; // the release tail

    const Run probe = encodertool::probe(input);
    QCOMPARE(QString::fromLatin1(probe.out).trimmed(), QStringLiteral("$%1$").arg(int(rendered)));
    const Run run = convert(input, 50, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY(qAbs(fixtures::decodedDuration(output) - rendered) < 0.01);

    const QJsonObject tags = describeMedia(output).value("format").toObject().value("tags").toObject();
    QCOMPARE(tags.value("title").toString(), title);
    QCOMPARE(tags.value("copyright").toString(), title == "Little Tune" ? "(c) 2024 Tester" : "");
    // Sound while the notes are held, and as they ring out after their note-offs.
    const auto level = [&](double from, double seconds) {
        const QString part = dir.filePath(name + ".part.wav");
        fixtures::runStockFfmpeg({"-ss", QString::number(from), "-t", QString::number(seconds), "-i", output, part});
        return measure(part).rmsDb;
    };
    QVERIFY(level(0.0, songSeconds) > -50.0);
    QVERIFY(level(songSeconds, 0.3) > -80.0);
}

void TestEncoderMidi::fails_data()
{
    QTest::addColumn<QByteArray>("midi");
    QTest::addColumn<QByteArray>("soundFont");
    QTest::addColumn<bool>("probeFails");
    QTest::addColumn<QByteArray>("reason");
    const QByteArray good = midiFile(0, 480, {chord(480)});
    QTest::newRow("no SoundFont") << good << QByteArray("/nonexistent/none.sf2") << false << QByteArray("SoundFont");
    QTest::newRow("track cut short") << good.left(good.size() - 6) << QByteArray() << true << QByteArray();
    QTest::newRow("no notes") << midiFile(1, 480, {meta(0, 0x03, "Empty")}) << QByteArray() << true << QByteArray();
    QTest::newRow("zero time division") << midiFile(0, 0, {chord(480)}) << QByteArray() << true << QByteArray();
    // 6000 quarter notes of 16.8 seconds: about 28 hours, refused before any rendering.
    QTest::newRow("longer than a day") << midiFile(1, 1, {meta(0, 0x51, bytes({0xFF, 0xFF, 0xFF})), chord(6000)})
                                       << QByteArray() << true << QByteArray("27:57:45, longer than the 24:00:00");
}

void TestEncoderMidi::fails()
{
    QFETCH(QByteArray, midi);
    QFETCH(QByteArray, soundFont);
    QFETCH(bool, probeFails);
    QFETCH(QByteArray, reason);
    const QString input = dir.filePath("bad.mid");
    const QString output = dir.filePath("bad.mp3");
    QVERIFY(write(input, midi));
    if (!soundFont.isEmpty())
        qputenv("MORVANE_SOUNDFONT", soundFont);
    const Run run = convert(input, 50, output);
    qunsetenv("MORVANE_SOUNDFONT");
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QVERIFY2(run.err.contains(reason), run.err.constData());
    QVERIFY(!QFile::exists(output));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".bad.mp3"), QStringList());
    const Run probe = encodertool::probe(input);
    QCOMPARE(probe.failedCleanly(), probeFails);
}

QTEST_GUILESS_MAIN(TestEncoderMidi)
#include "tst_encodermidi.moc"
