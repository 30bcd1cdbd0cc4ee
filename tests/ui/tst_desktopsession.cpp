// SPDX-License-Identifier: GPL-3.0-or-later
// What a run tells the desktop, against stand-ins for logind and the
// notification server on a private bus (CTest starts the suite under
// dbus-run-session; the same bus stands in for the system bus). Nothing is
// suspended, and the shutdown launcher is a recording stand-in.
#include "encodertool.h"
#include "mainwindow.h"
#include "shutdown.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// logind: an inhibitor is the write end of a pipe whose read end the test
// keeps, so it sees the inhibitor released when the read end hangs up.
class StandInLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QList<QStringList> inhibitors;
    QList<int> readEnds;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        inhibitors.append({what, who, why, mode});
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        readEnds.append(ends[0]);
        const QDBusUnixFileDescriptor handed(ends[1]); // a copy of its own
        ::close(ends[1]);
        return handed;
    }
};

class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QStringList> shown; // application, summary, body

public slots:
    uint Notify(const QString &application, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        shown.append({application, summary, body});
        return uint(shown.size());
    }
    QStringList GetCapabilities() { return {"body"}; }
};

class TestDesktopSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inhibitsSleepWhileConverting();
    void notifiesWhenTheWindowIsNotActive_data();
    void notifiesWhenTheWindowIsNotActive();

private:
    bool released(int run) const
    {
        pollfd end{login.readEnds.value(run, -1), POLLIN, 0};
        return ::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP);
    }
    void queue(MainWindow &window, const QString &out, const char *tool);

    QTemporaryDir dir;
    StandInLogin login;
    StandInNotifications notifications;
    QList<QStringList> shutdowns;
};

void TestDesktopSession::initTestCase()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QVERIFY2(!address.isEmpty(), "runs under dbus-run-session");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address); // before anything opens the system bus
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLatin1(address), "standins");
    QVERIFY(bus.registerService("org.freedesktop.login1") && bus.registerService("org.freedesktop.Notifications"));
    QVERIFY(bus.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &notifications, QDBusConnection::ExportAllSlots));
    setShutdownLauncher([this](const QString &program, const QStringList &) { shutdowns << QStringList{program}; });
}

// a.wav and b.wav, b.mp3 already in the output folder. With the shutdown box
// ticked, no box asks about it (it is kept, a failure) or takes the
// activation at the end.
void TestDesktopSession::queue(MainWindow &window, const QString &out, const char *tool)
{
    QVERIFY(QDir().mkpath(out) && QFile(out + "b.mp3").open(QIODevice::WriteOnly));
    window.show();
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-print"); // measures nothing
    window.AddFiles({dir.filePath("a.wav"), dir.filePath("b.wav")});
    setEncoderToolPath(qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-" + tool);
    window.findChild<QPlainTextEdit *>("txtCurrentDir")->setPlainText(out);
    window.findChild<QCheckBox *>("chckShutdown")->setChecked(true);
}

void TestDesktopSession::inhibitsSleepWhileConverting()
{
    MainWindow window;
    queue(window, dir.filePath("out-inhibit/"), "hang");
    QTest::mouseClick(window.findChild<QPushButton *>("btnConvert"), Qt::LeftButton);
    QTRY_COMPARE(login.inhibitors.size(), 1);
    QCOMPARE(login.inhibitors.first().at(0), QStringLiteral("sleep"));
    QCOMPARE(login.inhibitors.first().at(3), QStringLiteral("block"));
    // A call sent after the reply is answered after the window has it.
    QDBusPendingCallWatcher call(QDBusConnection::systemBus().asyncCall(QDBusMessage::createMethodCall(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Peer", "Ping")));
    QTRY_VERIFY(call.isFinished());
    QVERIFY(!released(0));
    window.close();
    QTRY_VERIFY(released(0));
}

void TestDesktopSession::notifiesWhenTheWindowIsNotActive_data()
{
    QTest::addColumn<bool>("active");
    QTest::newRow("window active") << true;
    QTest::newRow("window elsewhere") << false;
}

void TestDesktopSession::notifiesWhenTheWindowIsNotActive()
{
    QFETCH(bool, active);
    notifications.shown.clear();
    shutdowns.clear();
    const int run = int(login.inhibitors.size());
    MainWindow window;
    queue(window, dir.filePath(QStringLiteral("out-%1/").arg(active)), "progress");
    QWidget elsewhere;
    QWidget *activated = active ? static_cast<QWidget *>(&window) : &elsewhere;
    activated->show();
    activated->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(activated));
    QTest::mouseClick(window.findChild<QPushButton *>("btnConvert"), Qt::LeftButton);
    QTRY_VERIFY(released(run));
    // The stand-in answers this after whatever the window sent before.
    QDBusPendingCallWatcher call(QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
        "GetCapabilities")));
    QTRY_VERIFY(call.isFinished());
    const QList<QStringList> expected{{"Morvane", "Conversion completed", "1 file(s) kept as they were, 1 converted."}};
    QCOMPARE(notifications.shown, active ? QList<QStringList>() : expected);
    QCOMPARE(shutdowns.size(), 1);
}

QTEST_MAIN(TestDesktopSession)
#include "tst_desktopsession.moc"
