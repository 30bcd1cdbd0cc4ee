// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the help: which file is handed to the desktop, decided with
// stand-in xdg-mime and xdg-open programs on PATH, and the message when
// nothing can open it. No real viewer or browser is ever started: PATH holds
// only the stand-ins, and the offscreen platform opens no URL.
#include "help.h"
#include "mainwindow.h"
#include "windowtesting.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void opens_data();
    void opens();
    void saysWhereTheHelpIsWhenNothingOpensIt_data();
    void saysWhereTheHelpIsWhenNothingOpensIt();

private:
    void writeProgram(const QString &name, const QByteArray &script)
    {
        QFile file(tools->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + script);
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    QString recorded() const
    {
        QFile record(opened);
        return record.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(record.readAll()) : QString();
    }

    std::unique_ptr<QTemporaryDir> tools; // PATH during the test
    QString opened;                       // what the xdg-open stand-in records
};

void TestHelp::init()
{
    tools = std::make_unique<QTemporaryDir>();
    QVERIFY(tools->isValid());
    opened = tools->filePath(QStringLiteral("opened"));
    qputenv("PATH", QFile::encodeName(tools->path()));
}

void TestHelp::opens_data()
{
    QTest::addColumn<QString>("associated"); // the type xdg-mime names a viewer for; "-": no xdg-mime
    QTest::addColumn<bool>("xdgOpen");
    QTest::addColumn<bool>("chmPresent");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("openedFile");
    QTest::addColumn<bool>("installed"); // the help in share/morvane, not beside the program in lib/morvane
    const int chm = int(HelpShown::Chm), html = int(HelpShown::Html), nothing = int(HelpShown::Nothing);
    QTest::newRow("CHM viewer") << "application/vnd.ms-htmlhelp" << true << true << chm << "help.chm" << false;
    QTest::newRow("no CHM viewer") << "" << true << true << html << "help/index.html" << false;
    QTest::newRow("viewer for another type than detected")
        << "application/x-chm" << true << true << html << "help/index.html" << false;
    QTest::newRow("no help.chm") << "application/vnd.ms-htmlhelp" << true << false << html << "help/index.html" << false;
    QTest::newRow("no xdg-mime") << "-" << true << true << html << "help/index.html" << false;
    QTest::newRow("nothing opens") << "-" << false << true << nothing << "" << false;
    QTest::newRow("installed") << "application/vnd.ms-htmlhelp" << true << true << chm << "help.chm" << true;
}

void TestHelp::opens()
{
    QFETCH(QString, associated);
    QFETCH(bool, xdgOpen);
    QFETCH(bool, chmPresent);
    QFETCH(int, shown);
    QFETCH(QString, openedFile);
    QFETCH(bool, installed);

    // The stand-in detects every file as a CHM, as xdg-mime does for help.chm.
    if (associated != QLatin1String("-")) {
        writeProgram(QStringLiteral("xdg-mime"),
                     "[ \"$2\" = filetype ] && echo application/vnd.ms-htmlhelp\n"
                     "[ \"$2\" = default ] && [ \"$3\" = '" + associated.toUtf8() + "' ] && echo viewer.desktop\n"
                     "exit 0\n");
    }
    if (xdgOpen)
        writeProgram(QStringLiteral("xdg-open"), "echo \"$1\" >> '" + QFile::encodeName(opened) + "'\n");
    QTemporaryDir prefix;
    const QDir programDir(prefix.filePath(installed ? QStringLiteral("lib/morvane") : QStringLiteral("bin")));
    const QDir helpDir(installed ? prefix.filePath(QStringLiteral("share/morvane")) : programDir.path());
    QVERIFY(programDir.mkpath(QStringLiteral(".")));
    QVERIFY(helpDir.mkpath(QStringLiteral("help")));
    for (const QString &name : {QStringLiteral("help.chm"), QStringLiteral("help/index.html")}) {
        QFile file(helpDir.filePath(name));
        if (name.endsWith(QLatin1String(".html")) || chmPresent)
            QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QCOMPARE(int(openHelp(HelpFiles{programDir.path()})), shown);
    if (!openedFile.isEmpty()) // xdg-open is started detached and records when it runs
        QTRY_COMPARE(recorded(), helpDir.filePath(openedFile) + QLatin1Char('\n'));
}

void TestHelp::saysWhereTheHelpIsWhenNothingOpensIt_data()
{
    QTest::addColumn<bool>("f1");
    QTest::newRow("Help button") << false;
    QTest::newRow("F1") << true;
}

// Neither beside this test program nor in the installed folder lies any help,
// and PATH has no opener: the message names the installed folder.
void TestHelp::saysWhereTheHelpIsWhenNothingOpensIt()
{
    QFETCH(bool, f1);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    windowtesting::BoxAnswerer answerer({QStringLiteral("OK")});
    if (f1)
        QTest::keyClick(&window, Qt::Key_F1);
    else
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnHelp")), Qt::LeftButton);
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("Help Not Available"));
    const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../share/morvane");
    QVERIFY(answerer.seen[0].text.contains(installed));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
