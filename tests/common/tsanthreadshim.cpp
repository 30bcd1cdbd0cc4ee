// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into the suites only in ThreadSanitizer builds.
//
// QThread::wait() learns that a thread has ended through Qt's own mutex,
// which waits on a futex ThreadSanitizer cannot see (Qt is not built with
// it), and a thread that ended before the wait began is not waited for at
// all. Everything the thread did is still ordered before what follows the
// wait, but the sanitizer cannot tell, and reports the next use of the
// thread object's memory as a race. This file states that ordering: every
// QThread started by the suites releases itself when it finishes (in the
// thread, through its finished() signal), and a wait that returns true
// acquires it. QThread::start and QThread::wait are defined here, in the
// test program, so that the program's own calls reach these versions; they
// pass on to Qt's.

#include <QThread>
#include <QVariant>

#include <dlfcn.h>

extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);

namespace {

template<typename Function>
Function qtCore(const char *symbol)
{
    return reinterpret_cast<Function>(dlvsym(RTLD_NEXT, symbol, "Qt_6"));
}

} // namespace

void QThread::start(Priority priority)
{
    using Start = void (*)(QThread *, Priority);
    static const Start qtStart = qtCore<Start>("_ZN7QThread5startENS_8PriorityE");
    // Connected once per thread object, however often it is started.
    if (!property("tsanReleaseOnFinish").toBool()) {
        setProperty("tsanReleaseOnFinish", true);
        connect(this, &QThread::finished, this, [this] { __tsan_release(this); }, Qt::DirectConnection);
    }
    qtStart(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    using Wait = bool (*)(QThread *, QDeadlineTimer);
    static const Wait qtWait = qtCore<Wait>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = qtWait(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}
