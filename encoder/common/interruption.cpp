#include "common/interruption.h"

#include "toolcontract.h"

#include <atomic>
#include <csignal>
#include <initializer_list>
#include <string>
#include <cstdlib>
#include <unistd.h>

namespace interruption {

namespace {

// The only mutable global of the tool: written by the handler, read by the
// loops of every thread. A lock-free atomic is safe in a signal handler and,
// unlike a volatile sig_atomic_t, between threads.
std::atomic<int> requestedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Longest time the tool may still take once a stop was requested: a call
// that does not return (a stalled file system) is then ended by SIGALRM.
constexpr unsigned int stopDeadlineSeconds = toolcontract::kStopDeadlineSeconds;

extern "C" void recordSignal(int signalNumber)
{
    int none = 0;
    if (requestedSignal.compare_exchange_strong(none, signalNumber))
        alarm(stopDeadlineSeconds);
}

extern "C" int pollInterruption(void *)
{
    return requestedSignal != 0;
}

} // namespace

void install()
{
    struct sigaction action = {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signalNumber, &action, nullptr);

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int requestedBy()
{
    return requestedSignal;
}

Status stopped()
{
    return Status::failure("stopped by signal " + std::to_string(requestedSignal.load()));
}

AVIOInterruptCB ioCallback()
{
    return AVIOInterruptCB{pollInterruption, nullptr};
}

void endBySignal()
{
    const int signalNumber = requestedSignal;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    std::_Exit(128 + signalNumber); // not reached
}

StopSignalsBlocked::StopSignalsBlocked()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stopSignals, signalNumber);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous_);
}

StopSignalsBlocked::~StopSignalsBlocked()
{
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace interruption
