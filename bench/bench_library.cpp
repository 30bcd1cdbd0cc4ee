// SPDX-License-Identifier: GPL-3.0-or-later
// A music library through the window: times adding its folder (every track
// measured, the window repainting meanwhile), then a run over it into an
// output folder that already holds every MP3, answered once with "Ignore"
// for every existing file, until the summary shows.
// Usage: bench_library <library folder> <output folder>
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

namespace {

QAbstractButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        QTextStream(stderr) << "usage: bench_library <library folder> <output folder>\n";
        return 2;
    }

    MainWindow window;
    window.show();
    window.findChild<QPlainTextEdit *>(QStringLiteral("txtCurrentDir"))->setPlainText(arguments.at(2));

    // Answers the boxes as a user would: OK to the lists, "Ignore" with the
    // box ticked to the first existing file, "New Conversion" to the summary.
    QElapsedTimer clock;
    int questions = 0;
    double runMs = -1;
    QString summary;
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->windowTitle() == QLatin1String("File Exists")) {
            ++questions;
            if (box->checkBox())
                box->checkBox()->setChecked(true);
            buttonNamed(box, QStringLiteral("Ignore"))->click();
        } else if (box->windowTitle() == QLatin1String("Conversion Completed!")) {
            runMs = clock.nsecsElapsed() / 1e6;
            summary = box->text();
            buttonNamed(box, QStringLiteral("New Conversion"))->click();
            app.quit();
        } else if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
            ok->click();
        }
    });
    answering.start(5);

    clock.start();
    window.AddFiles({arguments.at(1)});
    const double addMs = clock.nsecsElapsed() / 1e6;
    const qsizetype tracks = window.queuedPaths().size();
    int measured = 0;
    for (uint seconds : window.queuedDurations())
        measured += seconds > 0;

    clock.restart();
    window.findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
    app.exec();

    QTextStream out(stdout);
    out << "tracks queued:        " << tracks << " (" << measured << " measured)\n"
        << "adding the library:   " << QString::number(addMs / 1000, 'f', 2) << " s\n"
        << "run, Ignore for all:  " << QString::number(runMs / 1000, 'f', 2) << " s, " << questions
        << " question(s)\n"
        << "summary:              " << summary.section(QLatin1Char('\n'), 0, 0) << " / "
        << summary.section(QLatin1Char('\n'), -1) << '\n';
    return tracks > 0 && measured == tracks && questions == 1 && runMs >= 0 ? 0 : 1;
}
