// SPDX-License-Identifier: GPL-3.0-or-later
// What a run tells the desktop, against stand-ins for logind and the
// notification server on a private bus (CTest starts the suite under
// dbus-run-session, and the same bus stands in for the system bus here):
// sleep is inhibited while a run goes on and released when it ends or the
// window closes, and a run that ends while the window is not active is
// notified. Nothing is ever suspended, and the computer is never shut down:
// the shutdown launcher is a recording stand-in.
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
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

// logind's manager: hands out the read end's partner of a pipe for every
// inhibitor, so the test sees the inhibitor released when the pipe's read
// end reaches its end.
class StandInLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~StandInLogin() override { clear(); }
    void clear()
    {
        for (int fd : std::as_const(readEnds))
            ::close(fd);
        readEnds.clear();
        inhibitors.clear();
    }

    QList<QStringList> inhibitors;
    QList<int> readEnds;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        inhibitors.append({what, who, why, mode});
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return {};
        readEnds.append(pipe[0]);
        const QDBusUnixFileDescriptor handed(pipe[1]); // a copy of its own
        ::close(pipe[1]);
        return handed;
    }
    QString CanSuspend() { return QStringLiteral("yes"); }
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
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

// Whether every copy of the pipe's write end is closed.
bool released(int readEnd)
{
    pollfd watched{readEnd, POLLIN, 0};
    return ::poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP);
}

} // namespace

class TestDesktopSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void inhibitsSleepWhileConverting();
    void notifiesWhenTheWindowIsNotActive_data();
    void notifiesWhenTheWindowIsNotActive();

private:
    // Returns once the bus has delivered everything this process sent on
    // `bus` before: a call to the same stand-in answers after them.
    static bool settle(QDBusConnection bus, const QString &service, const QString &path, const QString &interface,
                       const QString &method);
    QString standIn(const char *name) const { return qEnvironmentVariable("MORVANE_STANDIN_DIR") + "/standin-" + name; }

    QTemporaryDir dir;
    StandInLogin login;
    StandInNotifications notifications;
    QList<QStringList> shutdowns;
};

void TestDesktopSession::initTestCase()
{
    QVERIFY(dir.isValid());
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QVERIFY2(!address.isEmpty(), "the suite runs under dbus-run-session");
    // Before anything opens the system bus: the private bus stands in for it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    QDBusConnection services = QDBusConnection::connectToBus(QString::fromLatin1(address), "standins");
    QVERIFY(services.registerService(kLogin));
    QVERIFY(services.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots));
    QVERIFY(services.registerService(kNotifications));
    QVERIFY(services.registerObject("/org/freedesktop/Notifications", &notifications,
                                    QDBusConnection::ExportAllSlots));
    setShutdownLauncher([this](const QString &program, const QStringList &arguments) {
        shutdowns.append(QStringList{program} + arguments);
    });
    for (const char *name : {"a.wav", "b.wav"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

void TestDesktopSession::cleanup()
{
    login.clear();
    notifications.shown.clear();
    shutdowns.clear();
}

bool TestDesktopSession::settle(QDBusConnection bus, const QString &service, const QString &path,
                                const QString &interface, const QString &method)
{
    QDBusPendingCallWatcher call(bus.asyncCall(QDBusMessage::createMethodCall(service, path, interface, method)));
    return QTest::qWaitFor([&call] { return call.isFinished(); }) && !call.isError();
}

void TestDesktopSession::inhibitsSleepWhileConverting()
{
    {
        MainWindow window;
        window.show();
        setEncoderToolPath(standIn("print")); // measures nothing, at once
        window.AddFiles({dir.filePath("a.wav")});
        setEncoderToolPath(standIn("hang"));
        window.findChild<QPlainTextEdit *>("txtCurrentDir")->setPlainText(dir.path() + "/");
        QTest::mouseClick(window.findChild<QPushButton *>("btnConvert"), Qt::LeftButton);
        QTRY_COMPARE(login.inhibitors.size(), 1);
        QCOMPARE(login.inhibitors.first().at(0), QStringLiteral("sleep"));
        QCOMPARE(login.inhibitors.first().at(1), QStringLiteral("Morvane"));
        QVERIFY(!login.inhibitors.first().at(2).isEmpty());
        QCOMPARE(login.inhibitors.first().at(3), QStringLiteral("block"));
        // The window has its descriptor by now, and keeps it.
        QVERIFY(settle(QDBusConnection::systemBus(), kLogin, "/org/freedesktop/login1",
                       "org.freedesktop.login1.Manager", "CanSuspend"));
        QVERIFY(!released(login.readEnds.first()));
        window.close();
        QTRY_VERIFY(released(login.readEnds.first()));
    }
}

void TestDesktopSession::notifiesWhenTheWindowIsNotActive_data()
{
    QTest::addColumn<bool>("active");
    QTest::newRow("window active") << true;
    QTest::newRow("window elsewhere") << false;
}

// The shutdown box is ticked, so the run ends without a box that would take
// the activation; b.wav's MP3 is there already and is kept, a failure.
void TestDesktopSession::notifiesWhenTheWindowIsNotActive()
{
    QFETCH(bool, active);
    const QString out = dir.filePath(active ? "out-active" : "out-elsewhere") + "/";
    QVERIFY(QDir().mkpath(out));
    QFile existing(out + "b.mp3");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    MainWindow window;
    window.show();
    setEncoderToolPath(standIn("print"));
    window.AddFiles({dir.filePath("a.wav"), dir.filePath("b.wav")});
    setEncoderToolPath(standIn("progress"));
    window.findChild<QPlainTextEdit *>("txtCurrentDir")->setPlainText(out);
    window.findChild<QCheckBox *>("chckShutdown")->setChecked(true);
    QWidget elsewhere;
    QWidget *activated = active ? static_cast<QWidget *>(&window) : &elsewhere;
    activated->show();
    activated->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(activated));

    QTest::mouseClick(window.findChild<QPushButton *>("btnConvert"), Qt::LeftButton);
    QTRY_COMPARE(shutdowns.size(), 1);
    QTRY_COMPARE(login.readEnds.size(), 1);
    QTRY_VERIFY(released(login.readEnds.first()));
    QVERIFY(settle(QDBusConnection::sessionBus(), kNotifications, "/org/freedesktop/Notifications", kNotifications,
                   "GetCapabilities"));
    if (active) {
        QCOMPARE(notifications.shown, QList<QStringList>());
    } else {
        QCOMPARE(notifications.shown,
                 (QList<QStringList>{{"Morvane", "Conversion completed", "1 file(s) failed, 1 converted."}}));
    }
}

QTEST_MAIN(TestDesktopSession)
#include "tst_desktopsession.moc"
