// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktopsession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString kProgramName = QStringLiteral("Morvane");

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// The server decides how long a notification stays.
constexpr int kServerTimeout = -1;

} // namespace

DesktopSession::DesktopSession(QObject *parent)
    : QObject(parent)
{
}

void DesktopSession::runStarted()
{
    if (running)
        return;
    running = true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin, kLoginPath, kLoginManager, QStringLiteral("Inhibit"));
    // "block": suspending waits until the descriptor is closed.
    call << QStringLiteral("sleep") << kProgramName << tr("Converting audio files to MP3") << QStringLiteral("block");
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopSession::keepInhibitor);
}

void DesktopSession::keepInhibitor(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    // A descriptor that arrives after its run has ended (or a second one for
    // the same run) is dropped, and dropping it closes it.
    if (reply.isValid() && running && !inhibitor.isValid())
        inhibitor = reply.value();
}

void DesktopSession::runEnded()
{
    running = false;
    inhibitor = QDBusUnixFileDescriptor();
}

void DesktopSession::notifyRunEnded(int converted, int failed, int kept)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const RunNotice notice = runNotice(converted, failed, kept);
    // The desktop entry's name is also the icon's name in the theme.
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints;
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                       QStringLiteral("Notify"));
    call << kProgramName << uint(0) << desktopEntry << notice.summary << notice.body << QStringList() << hints
         << kServerTimeout;
    // The notification's number in the reply is of no use here.
    bus.send(call);
}

RunNotice runNotice(int converted, int failed, int kept)
{
    RunNotice notice;
    notice.summary = DesktopSession::tr("Conversion completed");
    if (failed == 0 && kept == 0)
        notice.body = DesktopSession::tr("%n file(s) converted.", nullptr, converted);
    else if (kept == 0)
        notice.body = DesktopSession::tr("%n file(s) failed, %1 converted.", nullptr, failed).arg(converted);
    else if (failed == 0)
        notice.body = DesktopSession::tr("%n file(s) kept as they were, %1 converted.", nullptr, kept).arg(converted);
    else
        notice.body = DesktopSession::tr("%n file(s) failed, %1 kept as they were, %2 converted.", nullptr, failed)
                          .arg(kept)
                          .arg(converted);
    return notice;
}
