#include "mainwindow.h"
#include "progressbridge.h"
#include "shutdown.h"

#include <QApplication>
#include <QDir>
#include <QProcess>

int main(int argc, char *argv[])
{
    registerProgressMessage();
    QApplication app(argc, argv);
    installProgressMessageFilter(&app);
    setShutdownLauncher([](const QString &program, const QStringList &arguments) {
        QProcess::startDetached(program, arguments);
    });

    MainWindow window;
    window.show();

    // The help file and the encoder tool lie beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    return app.exec();
}
