// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobserver.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

Jobserver::Jobserver()
{
    // Close-on-exec, so the help viewer, the shutdown and whatever else this
    // process starts never hold the pipe; inherit() clears the flag in the
    // tools alone. Writes never block: the tools only ever write back bytes
    // they took out.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    readEnd = ends[0];
    writeEnd = ends[1];
    fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
}

Jobserver::~Jobserver()
{
    if (readEnd >= 0)
        close(readEnd);
    if (writeEnd >= 0)
        close(writeEnd);
}

void Jobserver::release(int tokens)
{
    if (!isValid())
        return;
    // make's own tokens are "+"; tools write back whatever byte they took.
    const QByteArray bytes(qMax(0, tokens), '+');
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(writeEnd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a full pipe holds more threads than any machine has
        written += n;
    }
}

int Jobserver::available() const
{
    int bytes = 0;
    return isValid() && ioctl(readEnd, FIONREAD, &bytes) == 0 ? bytes : 0;
}

void Jobserver::inherit(QProcess &process, int jobs) const
{
    if (!isValid())
        return;
    QProcessEnvironment environment = process.processEnvironment();
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MAKEFLAGS"), jobserverMakeflags(jobs, readEnd, writeEnd));
    process.setProcessEnvironment(environment);
    const int r = readEnd;
    const int w = writeEnd;
    // Runs in the child between fork and exec: only async-signal-safe calls.
    process.setChildProcessModifier([r, w] {
        fcntl(r, F_SETFD, 0);
        fcntl(w, F_SETFD, 0);
    });
}

QString jobserverMakeflags(int jobs, int readEnd, int writeEnd)
{
    return QStringLiteral(" -j%1 --jobserver-auth=%2,%3").arg(jobs).arg(readEnd).arg(writeEnd);
}
