// The queue of files: adding through the dialog and by dropping, duplicates,
// removing, the enabling rules, and the size texts.
#include "audiofixtures.h"
#include "encodertool.h"
#include "mainwindow.h"
#include "windowtesting.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace windowtesting;

class TestFileList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void fileSizeText_data();
    void fileSizeText();
    void addThroughDialog();
    void cancelledDialogChangesNothing();
    void duplicatesAreRefusedOnce();
    void unmeasurableFileIsStillAdded();
    void removeSelectedRows_data();
    void removeSelectedRows();
    void enablingFollowsTheTable();
    void droppedLocalFilesAreAddedAsCopy();
    void droppedFolderAddsItsAudioFiles();
    void slowAddShowsProgressAndCancelKeepsMeasured();
    void addDialogFindsEveryFormat();
    void otherDropsAreRefused_data();
    void otherDropsAreRefused();

private:
    QString tone(const QString &name, double seconds);
    static QTableWidget *table(MainWindow &window) { return window.findChild<QTableWidget *>("tblFiles"); }
    static QPushButton *button(MainWindow &window, const char *name)
    {
        return window.findChild<QPushButton *>(QLatin1String(name));
    }
    bool sendDrop(MainWindow &window, QMimeData *data, Qt::DropActions possible,
                  Qt::DropAction *reported);

    QTemporaryDir dir;
};

void TestFileList::initTestCase()
{
    QVERIFY(dir.isValid());
    setEncoderToolPath(qEnvironmentVariable("MORVANE_ENCODER"));
}

void TestFileList::cleanup()
{
    QVERIFY(!QApplication::activeModalWidget());
}

QString TestFileList::tone(const QString &name, double seconds)
{
    const QString path = dir.filePath(name);
    if (!QFileInfo::exists(path)) {
        fixtures::Tone settings;
        settings.seconds = seconds;
        QString error;
        if (!fixtures::makeTone(path, settings, &error))
            qWarning("cannot make %s: %s", qPrintable(path), qPrintable(error));
    }
    return path;
}

void TestFileList::fileSizeText_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0 B";
    QTest::newRow("1023") << qint64(1023) << "1023 B";
    QTest::newRow("1024") << qint64(1024) << "1.00 KB";
    QTest::newRow("1536") << qint64(1536) << "1.50 KB";
    QTest::newRow("2047") << qint64(2047) << "2.00 KB";
    QTest::newRow("2048") << qint64(2048) << "2.00 KB";
    QTest::newRow("512000") << qint64(512000) << "500.00 KB";
    QTest::newRow("1048575") << qint64(1048575) << "1024.00 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    QTest::newRow("5000000") << qint64(5000000) << "4.77 MB";
    QTest::newRow("10 GB has no larger unit") << qint64(10737418240) << "10240.00 MB";
}

void TestFileList::fileSizeText()
{
    QFETCH(qint64, size);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::FormatFileSize(size), text);
}

void TestFileList::addThroughDialog()
{
    const QString first = tone("first.wav", 3.0);
    const QString second = tone("second.wav", 65.0);
    MainWindow window;
    window.show();

    chooseInFileDialog({first, second});
    QTest::mouseClick(button(window, "btnAddFile"), Qt::LeftButton);

    QTableWidget *rows = table(window);
    QCOMPARE(rows->rowCount(), 2);
    QCOMPARE(window.queuedPaths(), (QStringList{first, second}));
    QCOMPARE(window.queuedNames(), (QStringList{"first.wav", "second.wav"}));
    QCOMPARE(window.queuedDurations(), (QVector<uint>{3, 65}));

    QCOMPARE(rows->item(0, 0)->text(), QStringLiteral("first.wav"));
    QCOMPARE(rows->item(0, 0)->toolTip(), first);
    QCOMPARE(rows->item(0, 1)->text(), QStringLiteral("0:0:3"));
    QCOMPARE(rows->item(1, 1)->text(), QStringLiteral("0:1:5"));
    QCOMPARE(rows->item(1, 2)->text(), MainWindow::FormatFileSize(QFileInfo(second).size()));
    for (int column : {1, 2})
        QCOMPARE(rows->item(0, column)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
    QVERIFY(button(window, "btnConvert")->isEnabled());
}

void TestFileList::cancelledDialogChangesNothing()
{
    MainWindow window;
    window.show();
    chooseInFileDialog({});
    QTest::mouseClick(button(window, "btnAddFile"), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);
    QVERIFY(window.queuedPaths().isEmpty());
    QVERIFY(!button(window, "btnConvert")->isEnabled());
}

void TestFileList::duplicatesAreRefusedOnce()
{
    const QString listed = tone("Song.wav", 1.0);
    QDir().mkpath(dir.filePath("other"));
    const QString sameNameElsewhere = tone("other/song.WAV", 1.0);
    const QString fresh = tone("fresh.wav", 1.0);
    const QString freshAgain = tone("other/FRESH.wav", 1.0);
    MainWindow window;
    window.show();
    window.AddFiles({listed});

    // One click: a name already listed (other folder, other case), a new
    // file, and that new file's name again. One warning lists both refusals.
    auto seen = std::make_shared<BoxSeen>();
    clickInNextBox("OK", seen);
    window.AddFiles({sameNameElsewhere, fresh, freshAgain});
    QVERIFY(seen->shown);
    QCOMPARE(seen->title, QStringLiteral("Duplicate Files"));
    QCOMPARE(seen->text, QStringLiteral("The following files already exist in the list and will not "
                                        "be added:\nsong.WAV\nFRESH.wav"));
    QCOMPARE(seen->buttons, QStringList{"OK"});
    QCOMPARE(window.queuedNames(), (QStringList{"Song.wav", "fresh.wav"}));
    QCOMPARE(table(window)->rowCount(), 2);

    // No refusal, no box.
    const QString third = tone("third.wav", 1.0);
    window.AddFiles({third});
    QCOMPARE(table(window)->rowCount(), 3);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestFileList::unmeasurableFileIsStillAdded()
{
    QFile bogus(dir.filePath("notes.txt"));
    QVERIFY(bogus.open(QIODevice::WriteOnly));
    bogus.write(QByteArray(1536, 'x'));
    bogus.close();
    const QString missing = dir.filePath("missing.wav");
    MainWindow window;
    window.AddFiles({bogus.fileName(), missing});
    QCOMPARE(table(window)->rowCount(), 2);
    QCOMPARE(table(window)->item(0, 1)->text(), QStringLiteral("Couldn't estimate duration"));
    QCOMPARE(table(window)->item(0, 2)->text(), QStringLiteral("1.50 KB"));
    QCOMPARE(table(window)->item(1, 1)->text(), QStringLiteral("Couldn't estimate duration"));
    QCOMPARE(table(window)->item(1, 2)->text(), QStringLiteral("0 B"));
    QCOMPARE(window.queuedDurations(), (QVector<uint>{0, 0}));
}

void TestFileList::removeSelectedRows_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("Remove Selected") << false;
    QTest::newRow("Delete key in the table") << true;
}

void TestFileList::removeSelectedRows()
{
    QFETCH(bool, byKey);
    QStringList paths;
    for (int i = 0; i < 5; ++i)
        paths.append(tone(QStringLiteral("row%1.wav").arg(i), 1.0 + i));
    MainWindow window;
    window.show();
    window.AddFiles(paths);
    QTableWidget *rows = table(window);
    QCOMPARE(rows->rowCount(), 5);

    rows->selectRow(1);
    rows->setSelectionMode(QAbstractItemView::MultiSelection);
    rows->selectRow(3);
    rows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QCOMPARE(rows->selectedItems().size(), 6);
    QVERIFY(button(window, "btnRemoveFile")->isEnabled());

    if (byKey) {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        rows->setFocus();
        QTest::keyClick(rows, Qt::Key_Delete);
    } else {
        QTest::mouseClick(button(window, "btnRemoveFile"), Qt::LeftButton);
    }
    QCOMPARE(rows->rowCount(), 3);
    const QStringList expectedNames{"row0.wav", "row2.wav", "row4.wav"};
    QCOMPARE(window.queuedNames(), expectedNames);
    QCOMPARE(window.queuedPaths(), (QStringList{paths[0], paths[2], paths[4]}));
    QCOMPARE(window.queuedDurations(), (QVector<uint>{1, 3, 5}));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(rows->item(row, 0)->text(), expectedNames.at(row));
    QVERIFY(!button(window, "btnRemoveFile")->isEnabled());
    QVERIFY(button(window, "btnConvert")->isEnabled());
}

void TestFileList::enablingFollowsTheTable()
{
    const QString a = tone("a.wav", 1.0);
    const QString b = tone("b.wav", 1.0);
    MainWindow window;
    window.show();
    QPushButton *remove = button(window, "btnRemoveFile");
    QPushButton *convert = button(window, "btnConvert");
    QTableWidget *rows = table(window);

    window.AddFiles({a});
    QVERIFY(convert->isEnabled());
    QVERIFY(!remove->isEnabled());
    window.AddFiles({b});
    rows->selectRow(0);
    QVERIFY(remove->isEnabled());
    rows->clearSelection();
    QVERIFY(!remove->isEnabled());

    rows->selectAll();
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(rows->rowCount(), 0);
    QVERIFY(window.queuedPaths().isEmpty());
    QVERIFY(!convert->isEnabled());
    QVERIFY(!remove->isEnabled());

    // A file removed can be added again.
    window.AddFiles({a});
    QCOMPARE(rows->rowCount(), 1);
    QVERIFY(convert->isEnabled());
}

bool TestFileList::sendDrop(MainWindow &window, QMimeData *data, Qt::DropActions possible,
                            Qt::DropAction *reported)
{
    QWidget *target = table(window)->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, possible, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), possible, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    *reported = drop.dropAction();
    return drop.isAccepted();
}

void TestFileList::droppedLocalFilesAreAddedAsCopy()
{
    const QString a = tone("dropped-a.wav", 2.0);
    const QString b = tone("dropped-b.wav", 1.0);
    MainWindow window;
    window.show();
    window.AddFiles({b});

    // A file manager proposes a move; the table takes the files as a copy,
    // so the source never deletes them. The duplicate is refused as usual.
    auto seen = std::make_shared<BoxSeen>();
    clickInNextBox("OK", seen);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    Qt::DropAction reported = Qt::IgnoreAction;
    QVERIFY(sendDrop(window, &data, Qt::MoveAction | Qt::CopyAction, &reported));
    QCOMPARE(reported, Qt::CopyAction);
    QCOMPARE(window.queuedNames(), (QStringList{"dropped-b.wav", "dropped-a.wav"}));
    QCOMPARE(window.queuedDurations(), (QVector<uint>{1, 2}));
    QVERIFY(seen->shown);
    QVERIFY(seen->text.endsWith("\ndropped-b.wav"));
    QVERIFY(QFileInfo::exists(a));
}

void TestFileList::droppedFolderAddsItsAudioFiles()
{
    // Audio files anywhere below the folder, in path order (numbers in
    // their numeric order); other files are counted once, hidden ones not.
    for (const char *folder : {"album/CD 1", "album/CD 2", "album/.hidden"})
        QVERIFY(QDir().mkpath(dir.filePath(folder)));
    const QStringList audio{tone("album/CD 1/2 two.wav", 1.0), tone("album/CD 1/10 ten.flac", 1.0),
                            tone("album/CD 2/1 one.wav", 1.0)};
    for (const char *other : {"album/cover.jpg", "album/CD 2/notes.txt", "album/.hidden/x.wav", "album/.y.wav"}) {
        QFile file(dir.filePath(other));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    MainWindow window;
    window.show();
    auto seen = std::make_shared<BoxSeen>();
    clickInNextBox("OK", seen);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath("album"))});
    Qt::DropAction reported = Qt::IgnoreAction;
    QVERIFY(sendDrop(window, &data, Qt::CopyAction, &reported));
    QCOMPARE(window.queuedPaths(), audio);
    // Each under its path from the folder's parent, which it keeps below
    // the output folder.
    const QStringList names{"album/CD 1/2 two.wav", "album/CD 1/10 ten.flac", "album/CD 2/1 one.wav"};
    QCOMPARE(window.queuedNames(), names);
    QCOMPARE(table(window)->item(2, 0)->text(), names.at(2));
    QCOMPARE(table(window)->item(2, 0)->toolTip(), audio.at(2));
    QCOMPARE(window.queuedDurations(), (QVector<uint>{1, 1, 1}));
    QVERIFY(seen->shown);
    QCOMPARE(seen->text, QStringLiteral("2 file(s) in the added folders are not audio files and were not added:\n"
                                        "album/cover.jpg\nalbum/CD 2/notes.txt"));

    // The add dialog opens in the dropped folder; a folder typed there is
    // added as a dropped one is, and what is queued already is refused.
    QString openedIn;
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        openedIn = dialog->directory().absolutePath();
        dialog->setDirectory(dir.path());
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText("album");
        QTest::keyClick(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")), Qt::Key_Return);
    });
    BoxAnswerer answerer({"OK", "OK"});
    QTest::mouseClick(button(window, "btnAddFile"), Qt::LeftButton);
    QCOMPARE(openedIn, dir.filePath("album"));
    QTRY_COMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Duplicate Files"));
    QCOMPARE(answerer.seen.first().text.count('\n'), 3);
    QCOMPARE(window.queuedNames(), names);
}

void TestFileList::slowAddShowsProgressAndCancelKeepsMeasured()
{
    // One file's probe never answers: the add shows its progress after a
    // moment, the window goes on handling events meanwhile (the answering
    // timer runs), and Cancel keeps the files measured so far, in order.
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-print");
    qputenv("MORVANE_STANDIN_OUTPUT", "$42$");
    qputenv("MORVANE_STANDIN_SLOW_INPUT", "stuck");
    MainWindow window;
    window.show();
    QString title;
    QTimer answer; // cancels once the files before the stuck one are in
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *progress = window.findChild<QProgressDialog *>();
        if (!progress || !progress->isVisible() || window.queuedNames().size() < 2)
            return;
        answer.stop();
        title = progress->windowTitle();
        progress->findChild<QPushButton *>()->click();
    });
    answer.start(10);
    window.AddFiles({dir.filePath("a.wav"), dir.filePath("b.wav"), dir.filePath("stuck.wav"),
                     dir.filePath("d.wav")});
    qunsetenv("MORVANE_STANDIN_SLOW_INPUT");
    qunsetenv("MORVANE_STANDIN_OUTPUT");
    setEncoderToolPath(qEnvironmentVariable("MORVANE_ENCODER"));
    QCOMPARE(title, QString("Adding Files"));
    QVERIFY(!window.queuedNames().contains("stuck.wav"));
    QCOMPARE(window.queuedNames().mid(0, 2), (QStringList{"a.wav", "b.wav"}));
    QCOMPARE(window.queuedDurations().value(0), 42u);
    QVERIFY(button(window, "btnAddFile")->isEnabled());
    QVERIFY(button(window, "btnConvert")->isEnabled());
}

void TestFileList::addDialogFindsEveryFormat()
{
    // The dialog opens in the music folder, then where the last add came
    // from; its filter knows every format, in either case, and "All Files"
    // matches names without a dot.
    QDir().mkpath(dir.filePath("from here"));
    const QString file = dir.filePath("from here/take");
    fixtures::Tone wav;
    wav.outputOptions = {"-f", "wav"};
    QVERIFY(fixtures::makeTone(file, wav));
    QVERIFY(fixtures::makeTone(file + "2", wav));
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QVERIFY(QDir().mkpath(music));
    MainWindow window;
    window.show();
    QStringList folders;
    QStringList filters;
    for (int add = 0; add < 2; ++add) {
        whenModal<QFileDialog>([&](QFileDialog *dialog) {
            folders << dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->selectNameFilter(filters.last());
            dialog->setDirectory(QFileInfo(file).absolutePath());
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(add == 0 ? "take" : "take2");
            static_cast<QDialog *>(dialog)->accept();
        });
        QTest::mouseClick(button(window, "btnAddFile"), Qt::LeftButton);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    QCOMPARE(folders, (QStringList{music, dir.filePath("from here")}));
    QCOMPARE(filters.size(), 2);
    for (const char *pattern : {"*.wav", "*.flac", "*.FLAC", "*.ogg", "*.opus", "*.m4a", "*.aiff", "*.mid", "*.wma"})
        QVERIFY2(filters.first().contains(QString(" ") + pattern) || filters.first().contains(QString("(") + pattern),
                 pattern);
    QCOMPARE(filters.last(), QString("All Files (*)"));
    QCOMPARE(window.queuedNames(), (QStringList{"take", "take2"}));
}

void TestFileList::otherDropsAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("possible");
    QTest::newRow("plain text") << "text" << int(Qt::CopyAction | Qt::MoveAction);
    QTest::newRow("web address") << "http" << int(Qt::CopyAction);
    QTest::newRow("move only") << "file" << int(Qt::MoveAction);
}

void TestFileList::otherDropsAreRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, possible);
    const QString file = tone("only-move.wav", 1.0);
    QMimeData data;
    if (kind == "text")
        data.setText(file);
    else if (kind == "http")
        data.setUrls({QUrl("http://example.invalid/a.wav")});
    else
        data.setUrls({QUrl::fromLocalFile(file)});

    MainWindow window;
    window.show();
    Qt::DropAction reported = Qt::IgnoreAction;
    QVERIFY(!sendDrop(window, &data, Qt::DropActions(possible), &reported));
    QCOMPARE(table(window)->rowCount(), 0);
    QVERIFY(window.queuedPaths().isEmpty());
}

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
