#include "converter/tool.h"

#include "common/arguments.h"
#include "common/interruption.h"
#include "converter/probelist.h"
#include "input/probe.h"
#include "toolcontract.h"

#include <cstdio>
#include <cstring>
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

Status run(const Request &request, const ConversionOptions &options)
{
    if (request.kind == Request::Kind::Probe) {
        long seconds = 0;
        Status status = probeDuration(request.input, seconds);
        if (status.ok())
            std::printf("%c%ld%c\n", toolcontract::kDurationDelimiter, seconds, toolcontract::kDurationDelimiter);
        return status;
    }
    Status status = convert(request.input, request.quality, request.output, options);
    if (status.ok())
        std::printf("%s\n", toolcontract::kSuccessMarker);
    return status;
}

} // namespace

int runConverter(int argc, char **argv, const ConversionOptions &options)
{
    interruption::install();
    av_log_set_level(AV_LOG_QUIET);
    if (argc == 2 && std::strcmp(argv[1], toolcontract::kProbeListOption) == 0)
        return runProbeList();

    Request request;
    if (Status status = parseArguments(argc, argv, request); !status.ok()) {
        printReason(status);
        return exitUsage;
    }
    const Status status = run(request, options);
    if (!status.ok()) {
        printReason(status);
        if (interruption::requestedBy())
            interruption::endBySignal();
        return exitFailure;
    }
    return std::fflush(stdout) == 0 ? 0 : exitFailure;
}
