#include "converter/probelist.h"

#include "common/interruption.h"
#include "input/probe.h"
#include "toolcontract.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

constexpr int exitFailure = 1;

enum class Next { Path, End, Stop };

// The next NUL-terminated path of standard input; a last path without its
// NUL counts too. A read that a signal interrupts is retried unless the
// signal asked the tool to stop.
Next nextPath(std::string &path)
{
    path.clear();
    for (;;) {
        const int c = std::getc(stdin);
        if (c == '\0')
            return Next::Path;
        if (c != EOF) {
            path += static_cast<char>(c);
            continue;
        }
        if (interruption::requestedBy())
            return Next::Stop;
        if (std::ferror(stdin) && errno == EINTR) {
            std::clearerr(stdin);
            continue;
        }
        return path.empty() ? Next::End : Next::Path;
    }
}

Status probe(const std::string &path, long &seconds)
{
    try {
        return probeDuration(path, seconds);
    } catch (const std::exception &error) { // out of memory on a hostile file, say
        return Status::failure(std::string("cannot measure \"") + path + "\": " + error.what());
    }
}

} // namespace

int runProbeList()
{
    std::string path;
    bool written = true;
    for (long index = 0; written && nextPath(path) == Next::Path; ++index) {
        long seconds = 0;
        const Status status = probe(path, seconds);
        if (interruption::requestedBy())
            break; // the file was not measured: no answer for it
        if (status.ok())
            written = std::printf("%s%ld %c%ld%c\n", toolcontract::kProbeAnswerPrefix, index,
                                  toolcontract::kDurationDelimiter, seconds, toolcontract::kDurationDelimiter) > 0;
        else
            written = std::printf("%s%ld %s %s\n", toolcontract::kProbeAnswerPrefix, index, toolcontract::kProbeFailed,
                                  toolcontract::encodeLineText(status.reason()).c_str()) > 0;
        written = std::fflush(stdout) == 0 && written;
    }
    if (interruption::requestedBy())
        interruption::endBySignal();
    return written ? 0 : exitFailure;
}
