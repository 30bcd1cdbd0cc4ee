// The encoder tool the program starts ("ffmpeg", beside it). It speaks the
// same contract as the converter it fronts, but loads none of FFmpeg's
// libraries: a probe ("-i <input>") whose answer TagLib reads with certainty
// from the file's header is answered here, in a few milliseconds; everything
// else (conversions, other formats, odd files, wrong arguments) is handed
// to the converter beside it by exec, so the process the program started -
// its id, signals, exit status and output - simply becomes the converter.
// A list probe ("-probe-list") stays here: the front answers what it can and
// feeds the rest to one converter it starts (front/probelist.h).

#include "common/arguments.h"
#include "front/probelist.h"
#include "front/tagprobe.h"
#include "tags/taglibquiet.h"
#include "toolcontract.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The converter beside this program's own file (not beside whatever name
// it was started by).
std::string converterPath(const char *startedAs)
{
    std::string self;
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0)
        self.assign(buffer, static_cast<std::size_t>(length));
    else if (startedAs)
        self = startedAs;
    const std::size_t slash = self.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : self.substr(0, slash);
    return folder + "/" + toolcontract::kConverterName;
}

int handOver(int argc, char **argv)
{
    const std::string converter = converterPath(argc > 0 ? argv[0] : nullptr);
    std::vector<char *> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    arguments[0] = const_cast<char *>(converter.c_str());
    execv(converter.c_str(), arguments.data());
    const int error = errno;
    std::fprintf(stderr, "%scannot start the converter \"%s\": %s\n", toolcontract::kReasonPrefix, converter.c_str(),
                 std::strerror(error));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], toolcontract::kProbeListOption) == 0) {
        silenceTagLib();
        return answerProbeList(converterPath(argv[0]));
    }
    Request request;
    if (argc > 0 && parseArguments(argc, argv, request).ok() && request.kind == Request::Kind::Probe) {
        silenceTagLib(); // its diagnostics would add lines to the probe's standard error
        long seconds = 0;
        const bool answered = probeWithTagLib(request.input, seconds);
        if (answered) {
            std::printf("%c%ld%c\n", toolcontract::kDurationDelimiter, seconds, toolcontract::kDurationDelimiter);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return handOver(argc, argv);
}
