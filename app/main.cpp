// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "language.h"
#include "mainwindow.h"
#include "progressbridge.h"
#include "shutdown.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QTimer>

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("morvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    // Matches the installed desktop entry, so Wayland shows our name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));

    // --help, --version and option errors print and end here (0, and 1 for an
    // error): no window and no display, which QApplication would need.
    if (asksForTextOnly(argumentsOf(argc, argv))) {
        QCoreApplication app(argc, argv);
        const auto translations = installTranslations(QLocale());
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.process(app); // prints the text and ends the program
        return 0;
    }

    registerProgressMessage();
    QApplication app(argc, argv);
    // Before anything shows a text, even the command line's warnings.
    const auto translations = installTranslations(QLocale());
    // QApplication has taken out its own options; one of them that it leaves
    // (an X11 one on Wayland) is declared, so it is ignored.
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(app);
    // Relative names are taken against the folder the program was started in.
    const SortedArguments sorted = sortArguments(parser.positionalArguments(), QDir::currentPath());

    installProgressMessageFilter(&app);
    setShutdownLauncher([](const QString &program, const QStringList &arguments) {
        QProcess::startDetached(program, arguments);
    });

    MainWindow window;
    window.show();
    // Once the window is up: the files are measured as the add dialog's are,
    // and any warning appears over the window.
    QTimer::singleShot(0, &window, [&window, sorted] { queueSortedArguments(window, sorted); });

    // The encoder tool lies beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    return app.exec();
}
