// SPDX-License-Identifier: GPL-3.0-or-later
// The window's texts at the fonts desktops use and in each language: every
// label, button, check box, header and cell gets the size it asks for, the
// window grows to hold them and stays fixed, and the texts, Qt's own and the
// plural forms are in the language asked for, one key per mnemonic. CTest
// runs the suite again with QT_SCALE_FACTOR 1.5 and 2.
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
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestWindowTexts : public QObject
{
    Q_OBJECT

private slots:
    void everyTextWhole_data();
    void everyTextWhole();

private:
    static QStringList cutTexts(MainWindow &window);
};

void TestWindowTexts::everyTextWhole_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("pointSize"); // 0: the default font
    QTest::addColumn<QString>("convert");
    QTest::addColumn<QString>("qtCancel");
    const QString english = "&Convert File(s)";
    for (int size : {0, 10, 11, 13, 14})
        QTest::addRow("en, %d pt", size) << "en_GB" << size << english << "Cancel";
    for (int size : {0, 14}) {
        QTest::addRow("de, %d pt", size) << "de_AT" << size << "Dateien &umwandeln" << "Abbrechen";
        QTest::addRow("fr, %d pt", size) << "fr_FR" << size << "&Convertir les fichiers" << "Annuler";
    }
    // Nothing of Qt's either, so no window mixes two languages.
    QTest::addRow("no translation") << "es_ES" << 0 << english << "Cancel";
}

// What asks for more room than it has.
QStringList TestWindowTexts::cutTexts(MainWindow &window)
{
    QStringList cut;
    const auto check = [&cut](bool fits, const QString &what) {
        if (!fits)
            cut << what;
    };
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        const auto *label = qobject_cast<QLabel *>(widget);
        if (widget->objectName().isEmpty() || !(qobject_cast<QAbstractButton *>(widget) || (label && !label->text().isEmpty())))
            continue;
        QSize need = widget->sizeHint();
        if (label && label->wordWrap())
            need = QSize(label->minimumSizeHint().width(), label->heightForWidth(widget->width()));
        check(need.boundedTo(widget->size()) == need, widget->objectName());
        check(window.rect().contains(QRect(widget->mapTo(&window, QPoint()), need)), widget->objectName() + " in the window");
    }
    auto *field = window.findChild<QPlainTextEdit *>("txtCurrentDir");
    check(field->viewport()->height() >= field->fontMetrics().height() + 2 * field->document()->documentMargin(),
          "a line of the output field");
    auto *table = window.findChild<QTableWidget *>("tblFiles");
    const QAbstractItemView *view = table; // QTableView hides the cell measures
    QHeaderView *header = table->horizontalHeader();
    check(header->sizeHint().height() <= header->height(), "header");
    for (int column = 0; column < header->count(); ++column) {
        const int width = header->sectionSize(column);
        check(qMax(header->sectionSizeHint(column), view->sizeHintForColumn(column)) <= width
                  && header->sectionViewportPosition(column) + width <= table->viewport()->width(),
              QStringLiteral("column %1").arg(column));
    }
    for (int row = 0; row < table->rowCount(); ++row)
        check(view->sizeHintForRow(row) <= table->rowHeight(row), QStringLiteral("row %1").arg(row));
    return cut;
}

void TestWindowTexts::everyTextWhole()
{
    QFETCH(QString, locale);
    QFETCH(int, pointSize);
    QFETCH(QString, convert);
    QFETCH(QString, qtCancel);
    const QFont defaultFont = QApplication::font();
    QFont font = defaultFont;
    if (pointSize > 0)
        font.setPointSize(pointSize);
    QApplication::setFont(font);
    const auto restoreFont = qScopeGuard([&defaultFont] { QApplication::setFont(defaultFont); });
    const auto translations = installTranslations(QLocale(locale));

    // Rows with every kind of cell: long durations, one the tool could not
    // measure, sizes in MB, and a converted and a failed file's mark.
    QTemporaryDir dir;
    QFile large(dir.filePath("Evening Rain.wav"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(Q_INT64_C(1536) * 1048576)); // sparse
    MainWindow window;
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-print");
    qputenv("MORVANE_STANDIN_OUTPUT", "$359999$");
    window.AddFiles({dir.filePath("Harbour Lights.flac"), dir.filePath("Morning Walk.wav"), large.fileName()});
    qunsetenv("MORVANE_STANDIN_OUTPUT");
    window.AddFiles({dir.filePath("no duration.ogg")});
    auto *table = window.findChild<QTableWidget *>("tblFiles");
    table->item(0, 0)->setIcon(rowLook(true).mark);
    table->item(1, 0)->setIcon(rowLook(false).mark);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size().expandedTo(QSize(600, 480)), window.size());
    if (locale.startsWith("en") && pointSize == 0)
        QCOMPARE(window.size(), QSize(600, 480));
    QStringList cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
    // During a run the progress bar takes its room from the table alone.
    window.findChild<QProgressBar *>("prgrsConversion")->show();
    window.centralWidget()->layout()->activate();
    cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));

    QCOMPARE(window.findChild<QAbstractButton *>("btnConvert")->text(), convert);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), qtCancel);
    if (!locale.startsWith("de") && !locale.startsWith("fr")) // English, with its plural forms
        QCOMPARE(MainWindow::tr("%n file(s) kept as they were, since their MP3 already exists.", nullptr, 1),
                 "1 file kept as it was, since its MP3 already exists.");
    QStringList keys;
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        const QString text = widget->property("text").toString();
        if (text.contains('&'))
            keys << text.section('&', 1).left(1).toLower();
    }
    QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), keys.size());
}

QTEST_MAIN(TestWindowTexts)
#include "tst_windowtexts.moc"
