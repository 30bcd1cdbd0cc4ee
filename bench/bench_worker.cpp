// Runs the conversion worker over every file of a folder, as the window does,
// and prints the wall time. The scripts beside it compare that with calling
// the tool directly in a shell loop, and with the worker running one tool at
// a time.
// Usage: bench_worker <input folder> <output folder> <quality> [tools at once]
#include "conversionthread.h"
#include "progressbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    registerProgressMessage();
    QCoreApplication app(argc, argv);
    installProgressMessageFilter(&app);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4 && arguments.size() != 5) {
        QTextStream(stderr) << "usage: bench_worker <input folder> <output folder> <quality> [tools at once]\n";
        return 2;
    }
    const QDir input(arguments.at(1));
    QStringList paths;
    QStringList names = input.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names)
        paths.append(input.filePath(name));

    ConversionThread worker;
    worker.inputList = &paths;
    worker.nameList = &names;
    worker.outputDir = QDir(arguments.at(2)).absolutePath() + QLatin1Char('/');
    worker.quality = arguments.at(3).toInt();
    if (arguments.size() == 5)
        worker.maxTools = arguments.at(4).toInt();
    int failed = 0;
    uint progressReports = 0;
    QObject::connect(&worker, &ConversionThread::fileCompleted, &app,
                     [&failed](int, bool ok) { failed += !ok; });
    QObject::connect(&worker, &ConversionThread::fileProgress, &app,
                     [&progressReports](int, uint) { ++progressReports; });
    // A leftover output file would be a question nobody answers: skip it.
    QObject::connect(&worker, &ConversionThread::fileExists, &app,
                     [&worker](const QString &) { worker.overwriteExisting = true; },
                     Qt::BlockingQueuedConnection);
    QObject::connect(&worker, &QThread::finished, &app, &QCoreApplication::quit);

    QElapsedTimer clock;
    clock.start();
    worker.start();
    app.exec();
    QTextStream(stdout) << QString::number(clock.nsecsElapsed() / 1e9, 'f', 3) << " s, "
                        << paths.size() << " files, " << worker.maxTools << " at once, " << failed << " failed, "
                        << progressReports << " progress reports\n";
    return failed == 0 ? 0 : 1;
}
