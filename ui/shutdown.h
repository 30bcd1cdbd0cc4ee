#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Powering the computer off after a run. The command is started through one
// replaceable launcher: the program installs the real one at start-up, tests
// install a recording stand-in. With no launcher installed nothing happens.

struct ShutdownCommand
{
    QString program;
    QStringList arguments;
};

// The platform's command: systemctl poweroff.
ShutdownCommand platformShutdownCommand();

// Starts program with arguments as a detached process; the result is not examined.
using ShutdownLauncher = std::function<void(const QString &program, const QStringList &arguments)>;

void setShutdownLauncher(ShutdownLauncher launcher);

// Hands the platform command to the installed launcher, if there is one.
void launchShutdown();
