// Morvane's converter (morvane-converter). The program starts the front
// ("ffmpeg", front/), which answers most probes itself and execs this
// program, beside it, with the same arguments for everything else:
//   ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>
//       converts to MP3 and prints "##success##" once the MP3 is in place;
//   ffmpeg -i <input>
//       prints the length of the input's audio as "$<whole seconds>$".
// Failures exit non-zero with a one-line reason on standard error.

#include "common/arguments.h"
#include "common/interruption.h"
#include "converter/convert.h"
#include "input/probe.h"
#include "toolcontract.h"

#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// The reason on one line, whatever a file name in it holds.
void printReason(const Status &status)
{
    std::string line = toolcontract::kReasonPrefix + status.reason();
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

Status run(const Request &request)
{
    if (request.kind == Request::Kind::Probe) {
        long seconds = 0;
        Status status = probeDuration(request.input, seconds);
        if (status.ok())
            std::printf("%c%ld%c\n", toolcontract::kDurationDelimiter, seconds, toolcontract::kDurationDelimiter);
        return status;
    }
    Status status = convert(request.input, request.quality, request.output);
    if (status.ok())
        std::printf("%s\n", toolcontract::kSuccessMarker);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    interruption::install();
    av_log_set_level(AV_LOG_QUIET);

    Request request;
    if (Status status = parseArguments(argc, argv, request); !status.ok()) {
        printReason(status);
        return exitUsage;
    }
    const Status status = run(request);
    if (!status.ok()) {
        printReason(status);
        if (interruption::requestedBy())
            interruption::endBySignal();
        return exitFailure;
    }
    return std::fflush(stdout) == 0 ? 0 : exitFailure;
}
