#include "converter/tool.h"

#include "common/arguments.h"
#include "common/interruption.h"
#include "converter/albumgain.h"
#include "converter/probelist.h"
#include "input/probe.h"
#include "toolcontract.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>

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

// The track's number without its total: "3" from "3/12".
std::string numberOnly(const std::string &number)
{
    const std::size_t slash = number.find('/');
    std::string result = number.substr(0, slash);
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t'))
        result.pop_back();
    return result;
}

// "Info <key> <value>" lines for the program's playlists and album gain;
// a key without a value is left out.
void printInfo(const TrackReport &report)
{
    const std::pair<const char *, std::string> texts[] = {
        {"album", report.album},          {"artist", report.artist},
        {"title", report.title},          {"track", numberOnly(report.track)},
        {"disc", numberOnly(report.disc)}, {"loudness", report.loudness}};
    for (const auto &[key, value] : texts)
        if (!value.empty())
            std::printf("%s%s %s\n", toolcontract::kInfoPrefix, key, toolcontract::encodeLineText(value).c_str());
    std::printf("%sseconds %.6f\n", toolcontract::kInfoPrefix, report.seconds);
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
    if (request.kind == Request::Kind::AlbumGain) {
        Status status = writeAlbumGain(request.mp3s, STDIN_FILENO);
        if (status.ok())
            std::printf("%s\n", toolcontract::kSuccessMarker);
        return status;
    }
    TrackReport report;
    Status status = convert(request.input, request.quality, request.output, options, &report);
    if (status.ok()) {
        printInfo(report);
        std::printf("%s\n", toolcontract::kSuccessMarker);
    }
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
