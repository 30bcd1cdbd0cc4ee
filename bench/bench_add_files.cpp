// SPDX-License-Identifier: GPL-3.0-or-later
// Times adding files through the window's add path (probes several at once,
// size, row) and removing them all again, and, for comparison, one stock
// ffprobe run per file on the same files.
// Usage: bench_add_files <folder with audio files> [ffprobe path | -]
//   "-" leaves out the ffprobe comparison (for very many files).
#include "encodertool.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: bench_add_files <folder> [ffprobe | -]\n";
        return 2;
    }
    const QDir folder(arguments.at(1));
    const QString ffprobe = arguments.size() > 2 ? arguments.at(2) : QStringLiteral("/usr/bin/ffprobe");
    QStringList paths;
    for (const QString &name : folder.entryList(QDir::Files, QDir::Name))
        paths.append(folder.filePath(name));
    if (paths.isEmpty())
        return 2;

    MainWindow window;
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.AddFiles(paths);
    const double addMs = clock.nsecsElapsed() / 1e6;

    int measured = 0;
    for (uint seconds : window.queuedDurations())
        measured += seconds > 0;

    auto *table = window.findChild<QTableWidget *>(QStringLiteral("tblFiles"));
    clock.restart();
    table->selectAll();
    window.findChild<QPushButton *>(QStringLiteral("btnRemoveFile"))->click();
    const double removeMs = clock.nsecsElapsed() / 1e6;
    const bool allRemoved = table->rowCount() == 0 && window.queuedPaths().isEmpty();

    QTextStream out(stdout);
    out << "files:                  " << paths.size() << " (" << measured << " measured)\n"
        << "adding them:            " << QString::number(addMs / 1000, 'f', 2) << " s, "
        << QString::number(addMs / paths.size(), 'f', 2) << " ms/file\n"
        << "selecting and removing: " << QString::number(removeMs, 'f', 1) << " ms\n";
    if (ffprobe != QLatin1String("-")) {
        clock.restart();
        for (const QString &path : paths) {
            QProcess probe;
            probe.start(ffprobe, {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
            probe.waitForFinished(-1);
        }
        const double ffprobeMs = clock.nsecsElapsed() / 1e6;
        out << "stock ffprobe, one at a time: " << QString::number(ffprobeMs / paths.size(), 'f', 2) << " ms/file\n";
    }
    return measured == paths.size() && allRemoved ? 0 : 1;
}
