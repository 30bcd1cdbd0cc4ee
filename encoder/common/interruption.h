#pragma once

#include "common/status.h"

#include <csignal>

extern "C" {
#include <libavformat/avio.h>
}

// Termination requests (SIGTERM, SIGINT, SIGHUP). The handler only records
// the signal; the conversion loops and libav's I/O poll it, unwind, and let
// the owners remove the temporary file.
namespace interruption {

// Installs the handlers (without SA_RESTART, so a blocking call returns
// early) and ignores SIGPIPE, so a closed pipe becomes a write error.
void install();

// The signal that asked the tool to stop, or 0.
int requestedBy();

// The failure a step returns once a stop was requested.
Status stopped();

// For libav's blocking I/O: returns non-zero once a stop was requested.
AVIOInterruptCB ioCallback();

// Ends the process by the recorded signal with its default action, so the
// parent sees how the tool ended. Call only after cleaning up.
[[noreturn]] void endBySignal();

// While one lives, this thread does not take the stop signals, so a thread
// started meanwhile inherits that mask: stop requests stay with the main
// thread, whose blocking calls they are to interrupt, and helper threads
// poll requestedBy() instead.
class StopSignalsBlocked
{
public:
    StopSignalsBlocked();
    ~StopSignalsBlocked();
    StopSignalsBlocked(const StopSignalsBlocked &) = delete;
    StopSignalsBlocked &operator=(const StopSignalsBlocked &) = delete;

private:
    sigset_t previous_;
};

} // namespace interruption
