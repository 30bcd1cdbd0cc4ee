// A stand-in for the encoder tool with one fixed misbehaviour, so the tests
// can drive the worker and the probe through failures the real tool never
// shows on purpose. Each behaviour is its own executable (STANDIN_MODE).
//
// Environment, read by some modes:
//   MORVANE_STANDIN_PID_FILE    the process id is appended at start (all modes)
//   MORVANE_STANDIN_ARGS_FILE   echoargs: receives argv[1..], each ended by a NUL
//   MORVANE_STANDIN_STEPS       progress: number of progress lines (default 3)
//   MORVANE_STANDIN_PAUSE_MS    progress: pause after each line (default 20)
//   MORVANE_STANDIN_SLOW_INPUT  progress: an input path containing this text
//                               pauses ten times as long
//   MORVANE_STANDIN_OUTPUT      print: the text written to standard output
//                               (an input matching MORVANE_STANDIN_SLOW_INPUT
//                               gets no answer: the stand-in hangs)
//   MORVANE_STANDIN_FAIL_INPUT  progress: an input path containing this text
//                               fails, with a reason, and writes nothing
//   MORVANE_STANDIN_ALBUM       progress: "Info" lines for an album of this
//                               name (the loudness is the input's file name)
//   MORVANE_STANDIN_NOTE        progress: a note on standard error
//   MORVANE_STANDIN_TOKENS_FILE progress: after its progress, the threads it
//                               could take from the jobserver in MAKEFLAGS
//   MORVANE_STANDIN_PARTIAL     hang: makes a hidden file beside the output
//                               and names it, as the tool does on FUSE
// "progress" given -album-gain appends its arguments and its input to
// MORVANE_STANDIN_ARGS_FILE and reports success.

#include "toolcontract.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#ifndef STANDIN_MODE
#error "STANDIN_MODE must name the behaviour"
#endif

namespace {

const char *const kMarker = toolcontract::kSuccessMarker;

int envNumber(const char *name, int fallback)
{
    const char *text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

void writePidFile()
{
    const char *path = std::getenv("MORVANE_STANDIN_PID_FILE");
    if (!path || !*path)
        return;
    if (FILE *file = std::fopen(path, "a")) {
        std::fprintf(file, "%ld\n", static_cast<long>(getpid()));
        std::fclose(file);
    }
}

int printMarker()
{
    std::printf("%s\n", kMarker);
    std::fflush(stdout);
    return 0;
}

[[noreturn]] void sleepForever()
{
    for (;;)
        pause();
}

int crash()
{
    printMarker();
    prctl(PR_SET_DUMPABLE, 0); // no core file for a crash made on purpose
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

bool isSlowInput(int argc, char **argv)
{
    const char *slow = std::getenv("MORVANE_STANDIN_SLOW_INPUT");
    return slow && *slow && argc > 2 && std::strstr(argv[2], slow);
}

bool inputContains(int argc, char **argv, const char *variable)
{
    const char *text = std::getenv(variable);
    return text && *text && argc > 2 && std::strstr(argv[2], text);
}

std::string baseName(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// How many threads the jobserver named in MAKEFLAGS has free, taken without
// waiting (through a descriptor of our own, which may be non-blocking) and
// given back.
int countTokens()
{
    const char *flags = std::getenv("MAKEFLAGS");
    const char *auth = flags ? std::strstr(flags, "--jobserver-auth=") : nullptr;
    int readEnd = -1;
    int writeEnd = -1;
    if (!auth || std::sscanf(auth, "--jobserver-auth=%d,%d", &readEnd, &writeEnd) != 2)
        return -1;
    const int own = open(("/proc/self/fd/" + std::to_string(readEnd)).c_str(), O_RDONLY | O_NONBLOCK);
    if (own < 0)
        return -1;
    char tokens[64];
    const ssize_t taken = read(own, tokens, sizeof tokens);
    close(own);
    if (taken <= 0)
        return 0;
    if (write(writeEnd, tokens, static_cast<size_t>(taken)) != taken)
        return -1;
    return static_cast<int>(taken);
}

void appendToFile(const char *variable, const std::string &text)
{
    const char *path = std::getenv(variable);
    if (FILE *file = path ? std::fopen(path, "ab") : nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

int albumGain(int argc, char **argv)
{
    std::string record;
    for (int i = 1; i < argc; ++i)
        record += std::string(argv[i]) + '\n';
    char buffer[256];
    for (ssize_t n; (n = read(STDIN_FILENO, buffer, sizeof buffer)) > 0;)
        record.append(buffer, static_cast<size_t>(n));
    appendToFile("MORVANE_STANDIN_ARGS_FILE", record + "--\n");
    return printMarker();
}

int progress(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == toolcontract::kAlbumGainOption)
        return albumGain(argc, argv);

    const int steps = envNumber("MORVANE_STANDIN_STEPS", 3);
    int pauseMs = envNumber("MORVANE_STANDIN_PAUSE_MS", 20);
    if (isSlowInput(argc, argv))
        pauseMs *= 10;
    for (int second = 1; second <= steps; ++second) {
        std::fprintf(stderr, "%s %d\n", toolcontract::kProgressPrefix, second);
        std::fflush(stderr);
        usleep(static_cast<useconds_t>(pauseMs) * 1000);
    }
    if (inputContains(argc, argv, "MORVANE_STANDIN_FAIL_INPUT")) {
        std::fprintf(stderr, "%sthe input is damaged\n", toolcontract::kReasonPrefix);
        return 1;
    }
    if (std::getenv("MORVANE_STANDIN_TOKENS_FILE"))
        appendToFile("MORVANE_STANDIN_TOKENS_FILE", std::to_string(countTokens()) + "\n");
    if (const char *note = std::getenv("MORVANE_STANDIN_NOTE"))
        std::fprintf(stderr, "%s%s\n", toolcontract::kNotePrefix, note);
    if (argc > 1) {
        FILE *file = std::fopen(argv[argc - 1], "wb");
        if (!file)
            return 1;
        std::fputs("stand-in output\n", file);
        std::fclose(file);
    }
    if (const char *album = std::getenv("MORVANE_STANDIN_ALBUM"); album && argc > 2) {
        const std::string name = baseName(argv[2]);
        std::printf("%salbum %s\n%stitle %s\n%sseconds 61.4\n%sloudness %s\n", toolcontract::kInfoPrefix, album,
                    toolcontract::kInfoPrefix, name.c_str(), toolcontract::kInfoPrefix, toolcontract::kInfoPrefix,
                    name.c_str());
    }
    return printMarker();
}

// Leaves a hidden file beside the output, as the tool's named temporary file.
void makePartialFile(int argc, char **argv)
{
    if (argc < 2 || !std::getenv("MORVANE_STANDIN_PARTIAL"))
        return;
    const std::string output = argv[argc - 1];
    const std::string name = "." + baseName(output) + ".partial";
    if (FILE *file = std::fopen((output.substr(0, output.rfind('/') + 1) + name).c_str(), "wb"))
        std::fclose(file);
    std::fprintf(stderr, "%s%s\n", toolcontract::kPartialFilePrefix, toolcontract::encodeLineText(name).c_str());
    std::fflush(stderr);
}

int echoArguments(int argc, char **argv)
{
    const char *path = std::getenv("MORVANE_STANDIN_ARGS_FILE");
    FILE *file = path ? std::fopen(path, "wb") : nullptr;
    if (!file)
        return 1;
    for (int i = 1; i < argc; ++i)
        std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, file); // with its NUL
    std::fclose(file);
    return printMarker();
}

int readStandardInput()
{
    char buffer[256];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return printMarker();
}

int print(int argc, char **argv)
{
    if (isSlowInput(argc, argv))
        sleepForever();
    const char *text = std::getenv("MORVANE_STANDIN_OUTPUT");
    std::fputs(text ? text : "", stdout);
    return 0;
}

// A stand-in that sleeps forever must not outlive a test that was killed.
void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) // the parent is already gone
        std::_Exit(3);
}

} // namespace

int main(int argc, char **argv)
{
    dieWithParent();
    writePidFile();
    const std::string mode = STANDIN_MODE;
    if (mode == "crash")            // prints the marker, then dies of a signal
        return crash();
    if (mode == "hang") {           // silent until killed
        makePartialFile(argc, argv);
        sleepForever();
    }
    if (mode == "stubborn") {       // silent and ignores SIGTERM
        std::signal(SIGTERM, SIG_IGN);
        sleepForever();
    }
    if (mode == "nomarker") {       // ends well but never reports success
        std::puts("done");
        return 0;
    }
    if (mode == "failcode") {       // reports success, then exits with an error
        printMarker();
        return 3;
    }
    if (mode == "progress")         // progress lines, the output file, the marker
        return progress(argc, argv);
    if (mode == "echoargs")         // records its arguments
        return echoArguments(argc, argv);
    if (mode == "stdin")            // reads its input to the end first
        return readStandardInput();
    if (mode == "print")            // prints a given text (probe answers)
        return print(argc, argv);
    std::fprintf(stderr, "unknown stand-in mode %s\n", mode.c_str());
    return 2;
}
