// The window as it comes up: its widget tree, sizes, texts, initial states
// and the default output folder.
#include "encodertool.h"
#include "mainwindow.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetSizes_data();
    void widgetSizes();
    void texts_data();
    void texts();
    void windowFrame();
    void initialStates();
    void tableSetup();
    void keyboardOrderAndFocus();
    void defaultOutputFolder();

private:
    template<typename T>
    static T *child(MainWindow &window, const char *name)
    {
        T *widget = window.findChild<T *>(QLatin1String(name));
        if (!widget)
            qWarning("no %s named %s", T::staticMetaObject.className(), name);
        return widget;
    }
};

void TestMainWindow::widgetSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    const int unlimited = QWIDGETSIZE_MAX;
    QTest::newRow("banner") << "pctBanner" << "QLabel" << QSize(600, 100) << QSize(600, 100);
    QTest::newRow("table") << "tblFiles" << "TableWidgetWithMime" << QSize(0, 0) << QSize(unlimited, unlimited);
    QTest::newRow("add") << "btnAddFile" << "QPushButton" << QSize(131, 23) << QSize(131, 23);
    QTest::newRow("remove") << "btnRemoveFile" << "QPushButton" << QSize(131, 23) << QSize(131, 23);
    QTest::newRow("help") << "btnHelp" << "QPushButton" << QSize(75, 23) << QSize(75, 23);
    QTest::newRow("folder label") << "label_5" << "QLabel" << QSize(75, 0) << QSize(75, 16);
    QTest::newRow("folder") << "txtCurrentDir" << "QPlainTextEdit" << QSize(0, 40) << QSize(unlimited, 40);
    QTest::newRow("browse") << "btnChangeDir" << "QPushButton" << QSize(75, 23) << QSize(75, 23);
    QTest::newRow("smallest") << "label_2" << "QLabel" << QSize(75, 31) << QSize(75, 31);
    QTest::newRow("slider") << "sliderQuality" << "QSlider" << QSize(0, 0) << QSize(unlimited, unlimited);
    QTest::newRow("highest") << "label_3" << "QLabel" << QSize(75, 31) << QSize(75, 31);
    QTest::newRow("shutdown") << "chckShutdown" << "QCheckBox" << QSize(250, 17) << QSize(250, 17);
    QTest::newRow("convert") << "btnConvert" << "QPushButton" << QSize(131, 23) << QSize(131, 23);
    QTest::newRow("progress") << "prgrsConversion" << "QProgressBar" << QSize(0, 10) << QSize(unlimited, 10);
}

// The form's sizes are the least each widget gets: a text that needs more
// makes its widget larger (see tst_textfit), and a widget of fixed size
// stays fixed.
void TestMainWindow::widgetSizes()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    MainWindow window;
    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->minimumSize().expandedTo(minimum), widget->minimumSize());
    QCOMPARE(widget->maximumSize().expandedTo(maximum), widget->maximumSize());
    if (minimum == maximum)
        QCOMPARE(widget->minimumSize(), widget->maximumSize());
}

void TestMainWindow::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("add") << "btnAddFile" << "&Add Input File...";
    QTest::newRow("remove") << "btnRemoveFile" << "&Remove Selected";
    QTest::newRow("help") << "btnHelp" << "&Help";
    QTest::newRow("folder label") << "label_5" << "&Output Folder:";
    QTest::newRow("browse") << "btnChangeDir" << "&Browse...";
    QTest::newRow("smallest") << "label_2" << "Smallest Size";
    QTest::newRow("highest") << "label_3" << "Highest Quality";
    QTest::newRow("shutdown") << "chckShutdown" << "&Shutdown Computer After Finishing Conversion";
    QTest::newRow("convert") << "btnConvert" << "&Convert File(s)";
}

void TestMainWindow::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    MainWindow window;
    QObject *widget = window.findChild<QObject *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->property("text").toString(), text);
}

void TestMainWindow::windowFrame()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Morvane"));
    QCOMPARE(window.size(), QSize(600, 480));
    QCOMPARE(window.minimumSize(), QSize(600, 480));
    QCOMPARE(window.maximumSize(), QSize(600, 480));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(600, 480));

    const QPixmap banner = child<QLabel>(window, "pctBanner")->pixmap();
    QVERIFY(!banner.isNull());
    QCOMPARE(banner.size(), QSize(580, 100));

    QList<int> iconSizes;
    for (const QSize &size : window.windowIcon().availableSizes())
        iconSizes.append(size.width());
    for (int expected : {16, 32, 48, 128, 256})
        QVERIFY2(iconSizes.contains(expected), qPrintable(QString::number(expected)));

    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
}

void TestMainWindow::initialStates()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(child<QPushButton>(window, "btnAddFile")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "btnRemoveFile")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnHelp")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnChangeDir")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "btnConvert")->isEnabled());
    QVERIFY(!child<QCheckBox>(window, "chckShutdown")->isChecked());
    QVERIFY(!child<QProgressBar>(window, "prgrsConversion")->isVisible());
    QVERIFY(!child<QProgressBar>(window, "prgrsConversion")->isTextVisible());

    auto *slider = child<QSlider>(window, "sliderQuality");
    QCOMPARE(slider->value(), 50);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 99);
    QCOMPARE(slider->orientation(), Qt::Horizontal);

    auto *folder = child<QPlainTextEdit>(window, "txtCurrentDir");
    QVERIFY(folder->isReadOnly());
    QCOMPARE(folder->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(child<QLabel>(window, "label_5")->buddy(), child<QWidget>(window, "btnChangeDir"));

    QVERIFY(window.queuedPaths().isEmpty());
    QVERIFY(window.queuedNames().isEmpty());
    QVERIFY(window.queuedDurations().isEmpty());
    QVERIFY(!window.worker().isRunning());
}

void TestMainWindow::tableSetup()
{
    MainWindow window;
    auto *table = child<QTableWidget>(window, "tblFiles");
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->rowCount(), 0);
    const QStringList headers{"File Name", "Duration", "File Size"};
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(table->horizontalHeaderItem(column)->text(), headers.at(column));
        QCOMPARE(table->horizontalHeaderItem(column)->textAlignment(),
                 int(Qt::AlignHCenter | Qt::AlignVCenter));
    }
    QVERIFY(table->acceptDrops());
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(table->alternatingRowColors());
    QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 200);
    QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 50);
    QVERIFY(table->horizontalHeader()->stretchLastSection());
}

// Tab and Shift+Tab go through the controls from top to bottom and round
// again, leaving the table also when it has rows; each control looks
// different while it has the focus, the table also while it is empty.
void TestMainWindow::keyboardOrderAndFocus()
{
    setEncoderToolPath(qEnvironmentVariable("MORVANE_ENCODER"));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *table = child<QTableWidget>(window, "tblFiles");
    const QStringList order{"tblFiles", "btnAddFile", "btnRemoveFile", "btnHelp", "txtCurrentDir",
                            "btnChangeDir", "sliderQuality", "chckShutdown", "btnConvert"};
    const auto focused = [&window]() -> QWidget * {
        return QApplication::focusWidget() ? QApplication::focusWidget() : &window;
    };
    QStringList forward, backward, focusNotShown;
    for (bool empty : {true, false}) {
        if (!empty) {
            window.AddFiles({"/nonexistent/a.wav", "/nonexistent/b.wav"});
            table->selectRow(0);
            window.activateWindow(); // after the add's progress, if it showed
            QVERIFY(QTest::qWaitForWindowActive(&window));
        }
        focused()->clearFocus();
        QHash<QString, QImage> unfocused;
        for (const QString &name : order)
            unfocused.insert(name, child<QWidget>(window, qPrintable(name))->grab().toImage());
        // Styles show the focus once it moves by keyboard.
        child<QWidget>(window, "btnAddFile")->setFocus();
        QTest::keyClick(focused(), Qt::Key_Backtab);
        for (int i = 0; i <= (empty ? 0 : order.size()); ++i) {
            forward << focused()->objectName();
            if (focused()->grab().toImage() == unfocused.value(focused()->objectName()))
                focusNotShown << focused()->objectName();
            QTest::keyClick(focused(), Qt::Key_Tab);
        }
    }
    QTest::keyClick(focused(), Qt::Key_Backtab); // from the add button to the table
    for (int i = 0; i <= order.size(); ++i) {
        backward << focused()->objectName();
        QTest::keyClick(focused(), Qt::Key_Backtab);
    }
    QCOMPARE(forward, QStringList{"tblFiles"} + order + QStringList{"tblFiles"});
    QCOMPARE(backward, QStringList{"tblFiles"} + QStringList(order.crbegin(), order.crend()));
    QCOMPARE(focusNotShown, QStringList());
}

void TestMainWindow::defaultOutputFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVERIFY(!documents.isEmpty());
    QVERIFY(documents.startsWith(QDir::homePath())); // never the user's own folder
    const QString expected = documents + QStringLiteral("/Morvane Output/");
    QVERIFY(QDir(expected).removeRecursively());
    MainWindow window;
    QCOMPARE(window.findChild<QPlainTextEdit *>("txtCurrentDir")->toPlainText(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QCOMPARE(window.DocumentsFolder(), documents);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
