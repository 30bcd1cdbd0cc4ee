// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// What the desktop is told about a conversion run, over D-Bus.
//
// While a run goes on, the computer is kept from suspending: logind (on the
// system bus) hands out a "sleep" inhibitor, a file descriptor that blocks
// suspending for as long as it is open. So an overnight run, perhaps with the
// shutdown box ticked, is not stalled halfway by the desktop's idle suspend.
// The descriptor is closed when the run ends, and at the latest when this
// object goes.
//
// When a run ends while the user is elsewhere, a desktop notification
// (org.freedesktop.Notifications on the session bus) says how it went.
//
// A bus or a service that is not there is done without, silently: the run
// goes on as before. Nothing here waits for a bus.
class DesktopSession : public QObject
{
    Q_OBJECT

public:
    explicit DesktopSession(QObject *parent = nullptr);

    void runStarted();
    void runEnded();
    void notifyRunEnded(int converted, int failed, int kept = 0);

private:
    void keepInhibitor(QDBusPendingCallWatcher *call);

    bool running = false;
    QDBusUnixFileDescriptor inhibitor;
};

// The notification's title and text for a run that ended.
struct RunNotice
{
    QString summary;
    QString body;
};

RunNotice runNotice(int converted, int failed, int kept = 0);
