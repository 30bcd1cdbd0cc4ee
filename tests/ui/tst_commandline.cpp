// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: which arguments are answered without a window, how FILE
// arguments are sorted, and queueing them into the window.
#include "commandline.h"
#include "mainwindow.h"
#include "windowtesting.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textOnly_data();
    void textOnly();
    void sorting_data();
    void sorting();
    void queueingWarnsOnceForSkippedNames();

private:
    QString touch(const QString &name)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        return QFileInfo(file).absoluteFilePath();
    }

    QTemporaryDir dir;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(dir.isValid());
    touch(QStringLiteral("song.flac"));
    touch(QStringLiteral("my tune.wav"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("album/other")));
    touch(QStringLiteral("album/other/song.flac"));
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
}

void TestCommandLine::textOnly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("textOnly");
    QTest::newRow("--help") << QStringList{"--help"} << true;
    QTest::newRow("--help-all") << QStringList{"--help-all"} << true;
    QTest::newRow("--version after a file") << QStringList{"song.flac", "--version"} << true;
    QTest::newRow("-v") << QStringList{"-v"} << true;
    QTest::newRow("files") << QStringList{"song.flac"} << false;
    QTest::newRow("a file named --version") << QStringList{"--", "--version"} << false;
    QTest::newRow("Qt's -visual is not -v") << QStringList{"-visual", "0x21"} << false;
    QTest::newRow("Qt's options") << QStringList{"-platform", "xcb", "-style=fusion", "song.flac"} << false;
    QTest::newRow("unknown option") << QStringList{"--bogus", "song.flac"} << true;
    QTest::newRow("Qt's option without its value") << QStringList{"song.flac", "-platform"} << true;
}

void TestCommandLine::textOnly()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, textOnly);
    arguments.prepend(QStringLiteral("morvane"));
    QCOMPARE(asksForTextOnly(arguments), textOnly);
}

void TestCommandLine::sorting_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files"); // relative to the working folder
    QTest::addColumn<QStringList>("skipped");
    const QString tune = QUrl::fromLocalFile(dir.filePath(QStringLiteral("my tune.wav"))).toString(QUrl::FullyEncoded);
    QTest::newRow("absolute") << QStringList{dir.filePath("song.flac")} << QStringList{"song.flac"} << QStringList{};
    QTest::newRow("relative") << QStringList{"album/other/song.flac"} << QStringList{"album/other/song.flac"} << QStringList{};
    QTest::newRow("file URL") << QStringList{tune} << QStringList{"my tune.wav"} << QStringList{};
    QTest::newRow("missing") << QStringList{"gone.wav"} << QStringList{} << QStringList{"gone.wav"};
    QTest::newRow("folder") << QStringList{"album"} << QStringList{"album"} << QStringList{};
    QTest::newRow("FIFO") << QStringList{"pipe"} << QStringList{} << QStringList{"pipe"};
    QTest::newRow("web URL") << QStringList{"https://example.org/a.mp3"} << QStringList{}
                             << QStringList{"https://example.org/a.mp3"};
    QTest::newRow("order kept") << QStringList{"my tune.wav", "gone.wav", "song.flac"}
                                << QStringList{"my tune.wav", "song.flac"} << QStringList{"gone.wav"};
}

void TestCommandLine::sorting()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(QStringList, skipped);
    for (QString &file : files)
        file = dir.filePath(file);
    const SortedArguments sorted = sortArguments(arguments, dir.path());
    QCOMPARE(sorted.files, files);
    QCOMPARE(sorted.skipped, skipped);
}

// The files go through the add dialog's path (same rows, same duplicate
// warning); the names that add nothing get one warning of their own.
void TestCommandLine::queueingWarnsOnceForSkippedNames()
{
    const QStringList arguments{"song.flac", "my tune.wav", "album/other/song.flac", "gone.wav", "pipe"};
    MainWindow window;
    window.show();
    windowtesting::BoxAnswerer answerer({QStringLiteral("OK"), QStringLiteral("OK")});
    queueSortedArguments(window, sortArguments(arguments, dir.path()));

    QCOMPARE(window.queuedPaths(), (QStringList{dir.filePath("song.flac"), dir.filePath("my tune.wav")}));
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("Duplicate Files"));
    QVERIFY(answerer.seen[0].text.endsWith(QStringLiteral("\nsong.flac")));
    QCOMPARE(answerer.seen[1].title, QStringLiteral("Files Not Added"));
    QVERIFY(answerer.seen[1].text.endsWith(QStringLiteral(":\ngone.wav\npipe")));
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
