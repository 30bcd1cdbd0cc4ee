// SPDX-License-Identifier: GPL-3.0-or-later
// Every text of the window whole, at the fonts desktops use and in every
// language: each label, button and check box, the output field, the table's
// headers and cells get at least the size they ask for, and the window grows
// to hold them and stays fixed. CTest runs this suite again with
// QT_SCALE_FACTOR 1.5 and 2.
#include "encodertool.h"
#include "language.h"
#include "mainwindow.h"
#include "rowstatus.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestTextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void everyTextWhole_data();
    void everyTextWhole();

private:
    void queueRows(MainWindow &window);
    static QStringList cutTexts(MainWindow &window);

    QTemporaryDir dir;
    QFont defaultFont;
    QString standins;
};

void TestTextFit::initTestCase()
{
    QVERIFY(dir.isValid());
    defaultFont = QApplication::font();
    standins = qEnvironmentVariable("MORVANE_STANDIN_DIR");
    // Names of up to 20 characters are shown whole; a large file's size.
    for (const char *name : {"Harbour Lights.flac", "Morning Walk.wav", "no duration.ogg"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QFile large(dir.filePath("Evening Rain.wav"));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(Q_INT64_C(1536) * 1048576)); // sparse
}

void TestTextFit::cleanup()
{
    QApplication::setFont(defaultFont);
}

void TestTextFit::everyTextWhole_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("pointSize"); // 0: the default font
    for (int size : {0, 10, 11, 13, 14})
        QTest::addRow("en, %d pt", size) << "en" << size;
    for (const char *language : {"de", "fr"}) {
        for (int size : {0, 14})
            QTest::addRow("%s, %d pt", language, size) << language << size;
    }
}

// Rows with every kind of cell: long durations, one the tool could not
// measure, sizes in MB, and the marks of a converted and a failed file.
void TestTextFit::queueRows(MainWindow &window)
{
    setEncoderToolPath(standins + "/standin-print");
    qputenv("MORVANE_STANDIN_OUTPUT", "$359999$");
    window.AddFiles({dir.filePath("Harbour Lights.flac"), dir.filePath("Morning Walk.wav"),
                     dir.filePath("Evening Rain.wav")});
    qputenv("MORVANE_STANDIN_OUTPUT", "");
    window.AddFiles({dir.filePath("no duration.ogg")});
    qunsetenv("MORVANE_STANDIN_OUTPUT");
    auto *table = window.findChild<QTableWidget *>("tblFiles");
    table->item(0, 0)->setIcon(rowLook(true).mark);
    table->item(1, 0)->setIcon(rowLook(false).mark);
}

// What asks for more room than it has, one line each.
QStringList TestTextFit::cutTexts(MainWindow &window)
{
    QStringList cut;
    const auto check = [&cut](bool fits, const QString &what, const QSize &need, const QSize &has) {
        if (!fits)
            cut << QStringLiteral("%1 needs %2x%3, has %4x%5")
                       .arg(what)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(has.width())
                       .arg(has.height());
    };
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        const auto *label = qobject_cast<QLabel *>(widget);
        const bool hasText = qobject_cast<QAbstractButton *>(widget) || (label && !label->text().isEmpty());
        if (!hasText || widget->objectName().isEmpty() || widget->isHidden())
            continue;
        QSize need = widget->sizeHint();
        if (label && label->wordWrap())
            need = QSize(label->minimumSizeHint().width(), label->heightForWidth(widget->width()));
        check(need.boundedTo(widget->size()) == need, widget->objectName(), need, widget->size());
        const QRect inWindow(widget->mapTo(&window, QPoint()), widget->size());
        check(window.rect().contains(inWindow), widget->objectName() + " in the window",
              QSize(inWindow.right() + 1, inWindow.bottom() + 1), window.size());
    }

    auto *field = window.findChild<QPlainTextEdit *>("txtCurrentDir");
    const QSize line(0, field->fontMetrics().height() + 2 * int(field->document()->documentMargin()));
    check(field->viewport()->height() >= line.height(), "output field", line, field->viewport()->size());

    // The view's public face: QTableView hides the cell measures.
    const QAbstractItemView *table = window.findChild<QTableWidget *>("tblFiles");
    QHeaderView *header = window.findChild<QTableWidget *>("tblFiles")->horizontalHeader();
    check(header->sizeHint().height() <= header->height(), "header", header->sizeHint(), header->size());
    for (int column = 0; column < header->count(); ++column) {
        const QSize need(qMax(header->sectionSizeHint(column), table->sizeHintForColumn(column)), 0);
        const int width = header->sectionSize(column);
        check(need.width() <= width, QStringLiteral("column %1").arg(column), need, QSize(width, 0));
        const QSize end(header->sectionViewportPosition(column) + width, 0);
        check(end.width() <= table->viewport()->width(), QStringLiteral("column %1 in the view").arg(column), end,
              table->viewport()->size());
    }
    QHeaderView *numbers = window.findChild<QTableWidget *>("tblFiles")->verticalHeader();
    for (int row = 0; row < numbers->count(); ++row) {
        const QSize need(0, table->sizeHintForRow(row));
        const int height = numbers->sectionSize(row);
        check(need.height() <= height, QStringLiteral("row %1").arg(row), need, QSize(0, height));
    }
    return cut;
}

void TestTextFit::everyTextWhole()
{
    QFETCH(QString, language);
    QFETCH(int, pointSize);
    if (pointSize > 0) {
        QFont font = defaultFont;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    const auto translations = installTranslations(QLocale(language));
    MainWindow window;
    queueRows(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), window.minimumSize());
    if (language == "en" && pointSize == 0)
        QCOMPARE(window.size(), QSize(600, 480));
    QCOMPARE(window.size().expandedTo(QSize(600, 480)), window.size());
    QStringList cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));

    // During a run the progress bar takes its room from the table alone.
    window.findChild<QProgressBar *>("prgrsConversion")->show();
    window.centralWidget()->layout()->activate();
    cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
