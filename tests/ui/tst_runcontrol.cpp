// SPDX-License-Identifier: GPL-3.0-or-later
// A whole conversion run through the window: locking, progress, the
// overwrite question, coloured rows, the summary, starting over, quitting,
// shutting down (recorded, never real), and closing the window mid-run.
#include "audiofixtures.h"
#include "encodertool.h"
#include "mainwindow.h"
#include "progressbridge.h"
#include "rowstatus.h"
#include "shutdown.h"
#include "windowtesting.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace windowtesting;

class TestRunControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeRunWithRealTool();
    void overwriteQuestion();
    void shutdownTickedSkipsAndPowersOff();
    void progressValues();
    void progressFromTheTool();
    void exitEndsTheEventLoop();
    void browseForOutputFolder();
    void closingDuringConversion();
    void closingDuringQuestion();

private:
    QString tone(const QString &name, double seconds, const QStringList &options = {});
    QString outputFolder(const QString &name);
    static QString summaryHead() { return QStringLiteral("Completed converting the selected files!"); }
    template<typename T>
    static T *child(MainWindow &window, const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    static void setOutputFolder(MainWindow &window, const QString &folder)
    {
        child<QPlainTextEdit>(window, "txtCurrentDir")->setPlainText(folder);
    }
    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    // Queues a 10 s tone and a file the probe cannot measure (duration 0).
    void queueMeasuredAndUnmeasured(MainWindow &window, const QString &outputName);
    static void convert(MainWindow &window)
    {
        QTest::mouseClick(child<QPushButton>(window, "btnConvert"), Qt::LeftButton);
    }

    QTemporaryDir dir;
    QString realTool;
    QList<QStringList> shutdownCalls;
};

void TestRunControl::initTestCase()
{
    QVERIFY(dir.isValid());
    realTool = qEnvironmentVariable("MORVANE_ENCODER");
    QVERIFY(QFileInfo(realTool).isExecutable());
    // As at start-up: the tool's progress reaches the window through the
    // filter on the application.
    registerProgressMessage();
    installProgressMessageFilter(qApp);
    // Never the real command: every shutdown is recorded here.
    setShutdownLauncher([this](const QString &program, const QStringList &arguments) {
        shutdownCalls.append(QStringList{program} + arguments);
    });
}

void TestRunControl::init()
{
    setEncoderToolPath(realTool);
    shutdownCalls.clear();
}

void TestRunControl::cleanup()
{
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

QString TestRunControl::tone(const QString &name, double seconds, const QStringList &options)
{
    const QString path = dir.filePath(name);
    if (!QFileInfo::exists(path)) {
        fixtures::Tone settings;
        settings.seconds = seconds;
        settings.outputOptions = options;
        QString error;
        if (!fixtures::makeTone(path, settings, &error))
            qWarning("cannot make %s: %s", qPrintable(path), qPrintable(error));
    }
    return path;
}

QString TestRunControl::outputFolder(const QString &name)
{
    const QString folder = dir.filePath(name) + QLatin1Char('/');
    QDir().mkpath(folder);
    return folder;
}

void TestRunControl::wholeRunWithRealTool()
{
    const QString wav = tone("alpha.wav", 2.0);
    const QString flac = tone("beta.flac", 3.0);
    // Its MP3 would have the name of the first file's: it gets a name of its own.
    const QString sameName = tone("alpha.flac", 1.0);
    const QString broken = dir.filePath("broken.wav");
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4096; ++i)
            file.write(QByteArray::number(i * 7919 % 65521));
    }
    const QString out = outputFolder("out-whole");

    MainWindow window;
    window.show();
    window.AddFiles({wav, broken, flac, sameName});
    setOutputFolder(window, out);
    QTableWidget *table = child<QTableWidget>(window, "tblFiles");
    auto *bar = child<QProgressBar>(window, "prgrsConversion");

    QList<QColor> colours;
    QStringList toolTips;
    QStringList marks; // what a screen reader says; a mark shown; readable text
    bool lockedDuringRun = false;
    BoxAnswerer answerer({"New Conversion"}, [&](int) {
        for (int row = 0; row < 4; ++row) {
            colours.append(table->item(row, 0)->background().color());
            toolTips.append(table->item(row, 2)->toolTip());
            const QTableWidgetItem *name = table->item(row, 0);
            marks << QStringLiteral("%1 %2 %3").arg(name->data(Qt::AccessibleTextRole).toString())
                         .arg(!name->icon().isNull())
                         .arg(contrastRatio(name->foreground().color(), name->background().color()) >= 4.5);
        }
        lockedDuringRun = !child<QPushButton>(window, "btnAddFile")->isEnabled()
                          && !child<QPushButton>(window, "btnChangeDir")->isEnabled()
                          && !child<QPushButton>(window, "btnRemoveFile")->isEnabled()
                          && table->selectionMode() == QAbstractItemView::NoSelection
                          && bar->isVisible() && bar->maximum() == 400 && bar->value() == 400;
    });
    table->selectRow(1);
    convert(window);
    QVERIFY(table->selectedItems().isEmpty());
    QVERIFY(child<QPushButton>(window, "btnHelp")->isEnabled());
    QVERIFY(child<QCheckBox>(window, "chckShutdown")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 60000);

    const BoxSeen &summary = answerer.seen.first();
    QCOMPARE(summary.title, QStringLiteral("Conversion Completed!"));
    QCOMPARE(summary.text, summaryHead() + "\nThe following files failed to be converted:\nbroken.wav");
    QCOMPARE(summary.buttons, (QStringList{"New Conversion", "Exit"}));
    // Why it failed: in the summary's details and in the red row's tool tip.
    QVERIFY2(summary.details.startsWith("broken.wav: ") && summary.details.size() > 20, qPrintable(summary.details));
    QCOMPARE(toolTips.at(1), broken + "\nFailed: " + summary.details.mid(12));
    QCOMPARE(toolTips.at(3), sameName + "\nConverted to " + out + "alpha (2).mp3");
    QCOMPARE(summary.defaultButton, QStringLiteral("New Conversion"));
    QVERIFY(!summary.hasEscape);
    QVERIFY(lockedDuringRun);
    QCOMPARE(colours, (QList<QColor>{QColor(Qt::darkGreen), QColor(Qt::red), QColor(Qt::darkGreen),
                                     QColor(Qt::darkGreen)}));
    // Readable text on the colours (black on dark green is not), and the
    // outcome told without them.
    QVERIFY(contrastRatio(Qt::black, Qt::darkGreen) < 4.5);
    QCOMPARE(marks, (QStringList{"alpha.wav, converted 1 1", "broken.wav, failed 1 1", "beta.flac, converted 1 1",
                                 "alpha.flac, converted 1 1"}));

    QVERIFY(!QFileInfo::exists(out + "broken.mp3"));
    QVERIFY(qAbs(fixtures::decodedDuration(out + "alpha.mp3") - 2.0) < 0.03);
    QVERIFY(qAbs(fixtures::decodedDuration(out + "beta.mp3") - 3.0) < 0.03);
    QVERIFY(qAbs(fixtures::decodedDuration(out + "alpha (2).mp3") - 1.0) < 0.03);
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);

    // "New Conversion": an empty, unlocked window; the failures stay listed
    // until the next run starts.
    QTRY_VERIFY(!window.worker().isRunning());
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(window.queuedPaths().isEmpty());
    QVERIFY(window.queuedNames().isEmpty());
    QVERIFY(window.queuedDurations().isEmpty());
    QCOMPARE(window.failedNames(), QStringList{"broken.wav"});
    QVERIFY(!bar->isVisible());
    QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(child<QPushButton>(window, "btnAddFile")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnChangeDir")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnConvert")->isEnabled());

    // Convert with nothing queued does nothing at all.
    convert(window);
    QVERIFY(!window.worker().isRunning());
    QVERIFY(!bar->isVisible());
    QCOMPARE(window.failedNames(), QStringList{"broken.wav"});
    QVERIFY(!QApplication::activeModalWidget());

    // A new queue runs again, without failures: one sentence.
    window.AddFiles({wav});
    BoxAnswerer again({"Overwrite", "New Conversion"});
    convert(window);
    QTRY_COMPARE_WITH_TIMEOUT(again.seen.size(), 2, 60000);
    QCOMPARE(again.seen.at(1).text, summaryHead());
    QVERIFY(window.failedNames().isEmpty());
}

void TestRunControl::overwriteQuestion()
{
    // Three outputs were there before: the first is replaced, the second
    // kept with the box ticked, which keeps the third without asking. The
    // kept files are counted apart from failures.
    const QString replaced = tone("replaced.wav", 1.0);
    const QString kept = tone("kept.wav", 1.0);
    const QString alsoKept = tone("also kept.wav", 1.0);
    const QString out = outputFolder("out-overwrite");
    const QByteArray oldBytes("not an mp3, the user's own file");
    for (const char *name : {"replaced.mp3", "kept.mp3", "also kept.mp3"})
        QVERIFY(writeFile(out + name, oldBytes));

    MainWindow window;
    window.show();
    window.AddFiles({replaced, kept, alsoKept});
    setOutputFolder(window, out);
    // Escape answers neither the question nor the summary.
    int stillOpenAfterEscape = 0;
    BoxAnswerer answerer({"Overwrite", "Ignore", "New Conversion"}, [&](int number) {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QTest::keyClick(box, Qt::Key_Escape);
        stillOpenAfterEscape += box->isVisible() && QApplication::activeModalWidget() == box;
        if (number == 1)
            box->checkBox()->setChecked(true);
    });
    convert(window);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 3, 60000);
    QCOMPARE(stillOpenAfterEscape, 3);

    const BoxSeen &question = answerer.seen.at(0);
    QCOMPARE(question.title, QStringLiteral("File Exists"));
    QCOMPARE(question.text, QStringLiteral("File: replaced.mp3 exists in the output directory!\n"
                                           "Would you like to overwrite it?\n\n"
                                           "It would be replaced by the conversion of ")
                                + replaced + ".");
    QCOMPARE(question.buttons, (QStringList{"Overwrite", "Ignore"}));
    QCOMPARE(question.defaultButton, QStringLiteral("Overwrite"));
    QVERIFY(!question.hasEscape);
    QVERIFY(answerer.seen.at(1).text.startsWith("File: kept.mp3 exists"));
    const BoxSeen &summary = answerer.seen.at(2);
    QCOMPARE(summary.text, summaryHead() + "\n2 file(s) kept as they were, since their MP3 already exists.");
    QCOMPARE(summary.details, "kept.wav: kept the existing kept.mp3\nalso kept.wav: kept the existing also kept.mp3");
    QVERIFY(window.failedNames().isEmpty());
    QCOMPARE(window.keptNames(), (QStringList{"kept.wav", "also kept.wav"}));

    for (const char *name : {"kept.mp3", "also kept.mp3"}) {
        QFile keptFile(out + name);
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), oldBytes);
    }
    QVERIFY(qAbs(fixtures::decodedDuration(out + "replaced.mp3") - 1.0) < 0.03);
}

void TestRunControl::shutdownTickedSkipsAndPowersOff()
{
    const QString existing = tone("existing.wav", 1.0);
    const QString fresh = tone("fresh.wav", 1.0);
    const QString out = outputFolder("out-shutdown");
    QVERIFY(writeFile(out + "existing.mp3", "old"));
    MainWindow window;
    window.show();
    window.AddFiles({existing, fresh});
    setOutputFolder(window, out);
    child<QCheckBox>(window, "chckShutdown")->setChecked(true);
    QTableWidget *table = child<QTableWidget>(window, "tblFiles");

    convert(window);
    QTRY_COMPARE_WITH_TIMEOUT(shutdownCalls.size(), 1, 60000);
    QCOMPARE(shutdownCalls.first(), (QStringList{"systemctl", "poweroff"}));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(table->item(0, 0)->background().color(), QColor(Qt::red));
    QCOMPARE(table->item(1, 0)->background().color(), QColor(Qt::darkGreen));
    QCOMPARE(window.keptNames(), QStringList{"existing.wav"});
    QFile old(out + "existing.mp3");
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    // The window keeps its running layout while the computer goes down.
    QVERIFY(child<QProgressBar>(window, "prgrsConversion")->isVisible());
    QVERIFY(!child<QPushButton>(window, "btnAddFile")->isEnabled());
    QTRY_VERIFY(!window.worker().isRunning());
    QVERIFY(!child<QPushButton>(window, "btnConvert")->isEnabled());
    QCOMPARE(shutdownCalls.size(), 1);
}

void TestRunControl::queueMeasuredAndUnmeasured(MainWindow &window, const QString &outputName)
{
    const QString ten = tone("ten.wav", 10.0);
    const QString unmeasured = dir.filePath("unmeasured.bin");
    QVERIFY(writeFile(unmeasured, "????"));
    window.show();
    window.AddFiles({ten, unmeasured});
    QCOMPARE(window.queuedDurations(), (QVector<uint>{10, 0}));
    setOutputFolder(window, outputFolder(outputName));
}

void TestRunControl::progressValues()
{
    MainWindow window;
    queueMeasuredAndUnmeasured(window, "out-progress");
    // Tools that never end: the run stays open while the bar is driven by
    // hand; closing the window then stops them.
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-hang");
    window.worker().maxTools = 2;
    auto *bar = child<QProgressBar>(window, "prgrsConversion");
    convert(window);
    QList<int> values;
    const QList<QPair<int, uint>> reports{{0, 0}, {0, 3}, {0, 5}, {1, 0}, {0, 9}, {0, 4}, {1, 7},
                                          {0, 15}, {0, 10000}, {2, 4}, {-1, 4}};
    for (const auto &report : reports) {
        emit window.worker().fileProgress(report.first, report.second);
        values.append(bar->value());
    }
    // 0 s, 3 s and 5 s of 10; a file of unknown length adds nothing; a report
    // behind an earlier one never moves the bar back; 15 s of 10 fills no
    // more than the file's share; reports for no file of the run are ignored.
    QCOMPARE(values, (QList<int>{0, 30, 50, 50, 90, 90, 90, 100, 100, 100, 100}));
    window.close();
    QTRY_VERIFY_WITH_TIMEOUT(!window.worker().isRunning(), 10000);
}

void TestRunControl::progressFromTheTool()
{
    MainWindow window;
    queueMeasuredAndUnmeasured(window, "out-progress-tool");
    // A stand-in that reports 1 to 5 seconds done, then succeeds.
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-progress");
    qputenv("MORVANE_STANDIN_STEPS", "5");
    qputenv("MORVANE_STANDIN_PAUSE_MS", "30");
    auto *bar = child<QProgressBar>(window, "prgrsConversion");
    QList<int> values;
    connect(bar, &QProgressBar::valueChanged, this, [&values](int value) { values.append(value); });
    BoxAnswerer answerer({"New Conversion"});
    convert(window);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 30000);
    qunsetenv("MORVANE_STANDIN_STEPS");
    qunsetenv("MORVANE_STANDIN_PAUSE_MS");
    // 1..5 s of the 10 s file, its completion; the file of unknown length
    // keeps the bar at the start of its share until it completes.
    QCOMPARE(values, (QList<int>{0, 10, 20, 30, 40, 50, 100, 200}));
    QCOMPARE(answerer.seen.first().text, summaryHead());
}

void TestRunControl::exitEndsTheEventLoop()
{
    const QString file = tone("exit.wav", 1.0);
    MainWindow window;
    window.show();
    window.AddFiles({file});
    setOutputFolder(window, outputFolder("out-exit"));
    BoxAnswerer answerer({"Exit"});
    QTimer::singleShot(0, &window, [&window] { convert(window); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(answerer.seen.size(), 1);
    // Nothing is reset: the coloured row and the lists stay.
    QCOMPARE(child<QTableWidget>(window, "tblFiles")->rowCount(), 1);
    QCOMPARE(child<QTableWidget>(window, "tblFiles")->item(0, 0)->background().color(),
             QColor(Qt::darkGreen));
    QCOMPARE(window.queuedNames(), QStringList{"exit.wav"});
}

void TestRunControl::browseForOutputFolder()
{
    MainWindow window;
    window.show();
    auto *text = child<QPlainTextEdit>(window, "txtCurrentDir");
    const QString before = text->toPlainText();
    const QString chosen = outputFolder("chosen");

    whenModal<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
    QTest::mouseClick(child<QPushButton>(window, "btnChangeDir"), Qt::LeftButton);
    QCOMPARE(text->toPlainText(), before);

    QString caption;
    whenModal<QFileDialog>([&caption, chosen](QFileDialog *dialog) {
        caption = dialog->windowTitle();
        dialog->setDirectory(chosen);
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::mouseClick(child<QPushButton>(window, "btnChangeDir"), Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Output Directory"));
    QCOMPARE(text->toPlainText(), QDir(chosen).absolutePath() + "/");

    whenModal<QFileDialog>([](QFileDialog *dialog) {
        dialog->setDirectory("/");
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::mouseClick(child<QPushButton>(window, "btnChangeDir"), Qt::LeftButton);
    QCOMPARE(text->toPlainText(), QStringLiteral("/"));
}

void TestRunControl::closingDuringConversion()
{
    // Long enough that the tool is surely still working when the window closes.
    const QString longFile = tone("long.wav", 900.0);
    const QString out = outputFolder("out-close");
    QElapsedTimer clock;
    {
        MainWindow window;
        window.show();
        window.AddFiles({longFile});
        setOutputFolder(window, out);
        child<QSlider>(window, "sliderQuality")->setValue(99);
        convert(window);
        QTRY_VERIFY_WITH_TIMEOUT(window.worker().isRunning(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(child<QProgressBar>(window, "prgrsConversion")->value() > 0, 30000);
        clock.start();
        window.close();
    }
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestRunControl::closingDuringQuestion()
{
    const QString file = tone("asked.wav", 1.0);
    const QString out = outputFolder("out-close-question");
    QVERIFY(writeFile(out + "asked.mp3", "mine"));
    QElapsedTimer clock;
    {
        MainWindow window;
        window.show();
        window.AddFiles({file});
        setOutputFolder(window, out);
        bool asked = false;
        BoxAnswerer answerer({"Overwrite"}, [&](int) {
            asked = true;
            clock.start();
            window.close();
        });
        convert(window);
        QTRY_VERIFY_WITH_TIMEOUT(asked, 30000);
    }
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QFile existing(out + "asked.mp3");
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("mine"));
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"asked.mp3"});
}

QTEST_MAIN(TestRunControl)
#include "tst_runcontrol.moc"
