#include "shutdown.h"

namespace {
ShutdownLauncher &installedLauncher()
{
    static ShutdownLauncher launcher;
    return launcher;
}
} // namespace

ShutdownCommand platformShutdownCommand()
{
    return {QStringLiteral("systemctl"), {QStringLiteral("poweroff")}};
}

void setShutdownLauncher(ShutdownLauncher launcher)
{
    installedLauncher() = std::move(launcher);
}

void launchShutdown()
{
    if (!installedLauncher())
        return;
    const ShutdownCommand command = platformShutdownCommand();
    installedLauncher()(command.program, command.arguments);
}
