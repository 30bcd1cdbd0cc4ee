// Argument lists, output names and the reading of the tool's output.

#include "albuminfo.h"
#include "encodertool.h"
#include "queuepaths.h"
#include "progressbridge.h"

#include <QCoreApplication>
#include <QtTest>

class TestEncoderTool : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setEncoderToolPath(QString()); }

    void toolLiesBesideProgram();
    void outputName_data();
    void outputName();
    void queuePath_data();
    void queuePath();
    void playlistInTrackOrder();
    void fileNameOfPath_data();
    void fileNameOfPath();
    void splitTemplate_data();
    void splitTemplate();
    void conversionArgumentsKeepPathsWhole_data();
    void conversionArgumentsKeepPathsWhole();
    void probeArgumentsKeepPathWhole();
    void outputText_data();
    void outputText();
    void progressLine_data();
    void progressLine();
};

void TestEncoderTool::toolLiesBesideProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/ffmpeg";
    QCOMPARE(encoderToolPath(), beside);
    setEncoderToolPath("/elsewhere/tool");
    QCOMPARE(encoderToolPath(), QString("/elsewhere/tool"));
    setEncoderToolPath(QString());
    QCOMPARE(encoderToolPath(), beside);
}

void TestEncoderTool::outputName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("wav") << "song.wav" << "song.mp3";
    QTest::newRow("dots in the name") << "live.set.flac" << "live.set.mp3";
    QTest::newRow("upper case") << "Report.WAV" << "Report.mp3";
    QTest::newRow("long extension") << "take.aiff-c" << "take.mp3";
    QTest::newRow("only an extension") << ".wav" << ".mp3";
    QTest::newRow("trailing dot") << "odd." << "odd.mp3";
    QTest::newRow("no dot") << "take" << "take.mp3";
    QTest::newRow("already mp3") << "song.mp3" << "song.mp3";
    QTest::newRow("non-ASCII") << "Grüße.ogg" << "Grüße.mp3";
}

void TestEncoderTool::outputName()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(outputNameFor(input), output);
}

void TestEncoderTool::queuePath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("queuePath");
    QTest::addColumn<QString>("outputPath");
    QTest::newRow("tree") << "/m/Music" << "/m/Music/A/B/01 - Intro.flac" << "Music/A/B/01 - Intro.flac"
                          << "Music/A/B/01 - Intro.mp3";
    QTest::newRow("folder with a slash") << "/m/Music/" << "/m/Music/x.wav" << "Music/x.wav" << "Music/x.mp3";
    QTest::newRow("dots in folders") << "/m/v1.0" << "/m/v1.0/take" << "v1.0/take" << "v1.0/take.mp3";
    QTest::newRow("the root") << "/" << "/x/y.ogg" << "x/y.ogg" << "x/y.mp3";
}

void TestEncoderTool::queuePath()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(QString, queuePath);
    QFETCH(QString, outputPath);
    QCOMPARE(queuePathInFolder(folder, file), queuePath);
    QCOMPARE(outputPathForQueuePath(queuePath), outputPath);
    QCOMPARE(numberedOutputPath(outputPath, [&](const QString &path) { return path == outputPath; }),
             folderOfQueuePath(outputPath) + outputNameFor(::fileNameOfPath(queuePath)).chopped(4) + " (2).mp3");
}

void TestEncoderTool::playlistInTrackOrder()
{
    // By disc and track where every entry has a number, else as given.
    const QVector<PlaylistEntry> numbered{{"c.mp3", "#EXTINF:1,c", 2, 1}, {"b.mp3", "#EXTINF:1,b", 1, 10},
                                          {"a.mp3", "#EXTINF:1,a", 1, 2}};
    const QByteArray text = playlistText("Album", numbered);
    QVERIFY(isOwnPlaylist(text));
    QStringList order;
    for (const PlaylistEntry &entry : playlistEntries(text))
        order << entry.fileName;
    QCOMPARE(order, (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
    QVector<PlaylistEntry> partly = numbered;
    partly[1].track = 0;
    order.clear();
    for (const PlaylistEntry &entry : playlistEntries(playlistText("Album", partly)))
        order << entry.fileName;
    QCOMPARE(order, (QStringList{"c.mp3", "b.mp3", "a.mp3"}));
    TrackInfo info = parseTrackInfo("Info artist A%0AB\nInfo title T\nInfo seconds 61.6\nInfo track 3/12\n");
    QCOMPARE(extinfLine(info, "x.mp3"), QString("#EXTINF:62,A B - T"));
    QCOMPARE(info.track, 3);
}

void TestEncoderTool::fileNameOfPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("absolute") << "/home/u/Music/song.wav" << "song.wav";
    QTest::newRow("dotted folder") << "/a.b/c" << "c";
    QTest::newRow("bare name") << "song.wav" << "song.wav";
    QTest::newRow("folder") << "/home/u/" << "";
}

void TestEncoderTool::fileNameOfPath()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(::fileNameOfPath(path), name);
}

void TestEncoderTool::splitTemplate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("conversion") << QString(kConversionTemplate)
                                << QStringList{"-i", ">", "-acodec", "libmp3lame", "-aq", "##", "<"};
    QTest::newRow("probe") << QString(kProbeTemplate) << QStringList{"-i", ">"};
    QTest::newRow("runs of blanks") << "  a \t  b  " << QStringList{"a", "b"};
    QTest::newRow("quoted blank") << "\"a b\"c d" << QStringList{"a bc", "d"};
    QTest::newRow("empty quotes") << "\"\" x" << QStringList{"", "x"};
    QTest::newRow("nothing") << "" << QStringList();
}

void TestEncoderTool::splitTemplate()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QCOMPARE(splitArgumentTemplate(text), words);
}

void TestEncoderTool::conversionArgumentsKeepPathsWhole_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("output");
    QTest::newRow("plain") << "/in/song.wav" << 50 << "/out/song.mp3";
    QTest::newRow("lowest quality") << "/in/a.wav" << 0 << "/out/a.mp3";
    QTest::newRow("highest quality") << "/in/a.wav" << 99 << "/out/a.mp3";
    QTest::newRow("blanks") << "/in/my song .wav" << 50 << "/out dir/my song .mp3";
    QTest::newRow("quotes") << "/in/\"q\" \"r.wav" << 50 << "/out/\"q\" \"r.mp3";
    QTest::newRow("quality placeholder") << "/in/##.wav" << 7 << "/out/## ##.mp3";
    QTest::newRow("path placeholders") << "/in/<>.wav" << 50 << "/out/><.mp3";
    QTest::newRow("dollar") << "/in/$1$HOME$.wav" << 50 << "/out/$1$HOME$.mp3";
    QTest::newRow("leading dash") << "-y" << 50 << "-aq";
    QTest::newRow("non-ASCII") << "/in/Ünïcødé 日本.flac" << 50 << "/out/Ünïcødé 日本.mp3";
    QTest::newRow("empty") << "" << 50 << "";
}

void TestEncoderTool::conversionArgumentsKeepPathsWhole()
{
    QFETCH(QString, input);
    QFETCH(int, quality);
    QFETCH(QString, output);
    const QStringList expected{"-i", input, "-acodec", "libmp3lame", "-aq", QString::number(quality), output};
    QCOMPARE(conversionArguments(input, quality, output), expected);
}

void TestEncoderTool::probeArgumentsKeepPathWhole()
{
    const QString hostile = "/m/\"a b\" ## <x> $y -z.wav";
    QCOMPARE(probeArguments(hostile), QStringList({"-i", hostile}));
}

void TestEncoderTool::outputText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("success");
    QTest::newRow("marker alone") << QByteArray("##success##\n") << "##success##\n" << true;
    QTest::newRow("marker inside") << QByteArray("x##success##y") << "x##success##y" << true;
    QTest::newRow("other case") << QByteArray("##SUCCESS##") << "##SUCCESS##" << false;
    QTest::newRow("broken marker") << QByteArray("#success##") << "#success##" << false;
    QTest::newRow("Latin-1") << QByteArray("caf\xe9 \xff") << QString::fromUtf8("café ÿ") << false;
    QTest::newRow("stops at NUL") << QByteArray("ok\0##success##", 14) << "ok" << false;
    QTest::newRow("empty") << QByteArray() << "" << false;
}

void TestEncoderTool::outputText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(bool, success);
    QCOMPARE(toolOutputText(bytes), text);
    QCOMPARE(isSuccessOutput(toolOutputText(bytes)), success);
}

void TestEncoderTool::progressLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<uint>("seconds");
    QTest::newRow("plain") << QByteArray("ProgressMessage 90") << true << 90u;
    QTest::newRow("zero") << QByteArray("ProgressMessage 0") << true << 0u;
    QTest::newRow("CR and blanks") << QByteArray("ProgressMessage 5 \t\r") << true << 5u;
    QTest::newRow("largest") << QByteArray("ProgressMessage 4294967295") << true << 4294967295u;
    QTest::newRow("too large") << QByteArray("ProgressMessage 4294967296") << false << 0u;
    QTest::newRow("far too large") << QByteArray("ProgressMessage 99999999999999999999999") << false << 0u;
    QTest::newRow("negative") << QByteArray("ProgressMessage -1") << false << 0u;
    QTest::newRow("plus sign") << QByteArray("ProgressMessage +1") << false << 0u;
    QTest::newRow("not a number") << QByteArray("ProgressMessage abc") << false << 0u;
    QTest::newRow("number and text") << QByteArray("ProgressMessage 12s") << false << 0u;
    QTest::newRow("two numbers") << QByteArray("ProgressMessage 1 2") << false << 0u;
    QTest::newRow("no number") << QByteArray("ProgressMessage ") << false << 0u;
    QTest::newRow("no blank") << QByteArray("ProgressMessage12") << false << 0u;
    QTest::newRow("other prefix") << QByteArray("XProgressMessage 12") << false << 0u;
    QTest::newRow("other case") << QByteArray("progressmessage 12") << false << 0u;
    QTest::newRow("diagnostic") << QByteArray("[mp3 @ 0x1] warning") << false << 0u;
}

void TestEncoderTool::progressLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    QFETCH(uint, seconds);
    uint parsed = 12345;
    QCOMPARE(parseProgressLine(line, &parsed), accepted);
    QCOMPARE(parsed, accepted ? seconds : 12345u); // untouched when rejected
}

QTEST_GUILESS_MAIN(TestEncoderTool)
#include "tst_encodertool.moc"
