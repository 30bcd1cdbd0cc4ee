#include "front/probelist.h"

#include "front/tagprobe.h"
#include "toolcontract.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int exitFailure = 1;
constexpr std::size_t readSize = 16384;
constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the loop.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void recordStop(int signalNumber)
{
    if (stopSignal == 0)
        stopSignal = signalNumber;
}

// Without SA_RESTART, so that a blocking write returns; a closed pipe
// becomes a write error instead of SIGPIPE.
void installHandlers()
{
    struct sigaction action = {};
    action.sa_handler = recordStop;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : stopSignals)
        sigaction(signalNumber, &action, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

sigset_t stopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : stopSignals)
        sigaddset(&set, signalNumber);
    return set;
}

[[noreturn]] void endBySignal(int signalNumber)
{
    std::signal(signalNumber, SIG_DFL);
    const sigset_t set = stopSignalSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signalNumber);
    std::_Exit(128 + signalNumber); // not reached
}

// All of `text` to a blocking or non-blocking descriptor; false once it
// fails or a stop is requested.
bool writeAll(int descriptor, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(descriptor, text.data() + done, text.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (stopSignal != 0) {
            return false;
        } else if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd writable = {descriptor, POLLOUT, 0};
            poll(&writable, 1, -1);
        } else if (wrote < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

void closeDescriptor(int &descriptor)
{
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

std::string describeEnd(int waitStatus)
{
    if (WIFSIGNALED(waitStatus))
        return "was ended by signal " + std::to_string(WTERMSIG(waitStatus));
    return "ended with status " + std::to_string(WEXITSTATUS(waitStatus));
}

// The converter that measures what the front cannot, and what it was given.
struct Converter
{
    pid_t pid = -1;
    int in = -1;  // its standard input (non-blocking)
    int out = -1; // its standard output (non-blocking)
    std::string unsent;
    std::string partialLine;
    std::vector<long> indices;      // the list's index of each path it was given
    std::vector<std::string> paths; // those paths
    std::vector<bool> answered;

    bool running() const { return pid > 0; }
};

class ProbeList
{
public:
    explicit ProbeList(std::string converterPath) : converterPath(std::move(converterPath)) {}

    int run();

private:
    void takeInput(const char *bytes, std::size_t size);
    void answerPath(long index, const std::string &path);
    void answer(long index, const std::string &text);
    void fail(long index, const std::string &reason);

    void handOver(long index, const std::string &path);
    bool startConverter();
    void sendToConverter();
    void readFromConverter();
    void converterEnded();
    void stopConverter();

    const std::string converterPath;
    Converter converter;
    std::string startError; // once the converter could not be started
    std::string partialPath;
    long nextIndex = 0;
    bool inputEnded = false;
    bool listBroken = false; // the output closed (or waiting failed): the list ends with an error
};

int ProbeList::run()
{
    installHandlers();
    const sigset_t stops = stopSignalSet();
    std::vector<char> buffer(readSize);
    while (stopSignal == 0 && !listBroken && !(inputEnded && !converter.running())) {
        if (inputEnded && converter.unsent.empty())
            closeDescriptor(converter.in); // the converter answers the rest and ends
        pollfd watched[3];
        nfds_t count = 0;
        const auto watch = [&](int descriptor, short events) {
            watched[count] = pollfd{descriptor, events, 0};
            return count++;
        };
        const nfds_t input = inputEnded ? 3 : watch(STDIN_FILENO, POLLIN);
        const nfds_t answers = converter.out >= 0 ? watch(converter.out, POLLIN) : 3;
        const nfds_t requests = converter.in >= 0 && !converter.unsent.empty() ? watch(converter.in, POLLOUT) : 3;

        // Signals wait outside the poll: one that came before it is seen here.
        sigset_t previous;
        sigprocmask(SIG_BLOCK, &stops, &previous);
        if (stopSignal != 0) {
            sigprocmask(SIG_SETMASK, &previous, nullptr);
            break;
        }
        const int ready = ppoll(watched, count, nullptr, &previous);
        const int pollError = errno;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (ready < 0) {
            listBroken = pollError != EINTR;
            continue;
        }

        if (requests < count && watched[requests].revents != 0)
            sendToConverter();
        if (answers < count && watched[answers].revents != 0)
            readFromConverter();
        if (input < count && watched[input].revents != 0) {
            const ssize_t got = read(STDIN_FILENO, buffer.data(), buffer.size());
            if (got > 0) {
                takeInput(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                inputEnded = true;
                if (!partialPath.empty()) // the last path may lack its NUL
                    answerPath(nextIndex++, partialPath);
            }
        }
    }
    if (stopSignal != 0) {
        stopConverter();
        endBySignal(stopSignal);
    }
    stopConverter();
    return listBroken ? exitFailure : 0;
}

void ProbeList::takeInput(const char *bytes, std::size_t size)
{
    const char *end = bytes + size;
    while (bytes < end && stopSignal == 0 && !listBroken) {
        const char *nul = static_cast<const char *>(std::memchr(bytes, '\0', static_cast<std::size_t>(end - bytes)));
        if (!nul) {
            partialPath.append(bytes, end);
            return;
        }
        partialPath.append(bytes, nul);
        answerPath(nextIndex++, partialPath);
        partialPath.clear();
        bytes = nul + 1;
    }
}

void ProbeList::answerPath(long index, const std::string &path)
{
    long seconds = 0;
    if (probeWithTagLib(path, seconds))
        answer(index, toolcontract::kDurationDelimiter + std::to_string(seconds) + toolcontract::kDurationDelimiter);
    else
        handOver(index, path);
}

void ProbeList::answer(long index, const std::string &text)
{
    if (!listBroken)
        listBroken = !writeAll(STDOUT_FILENO, toolcontract::kProbeAnswerPrefix + std::to_string(index) + ' ' + text + '\n');
}

void ProbeList::fail(long index, const std::string &reason)
{
    answer(index, std::string(toolcontract::kProbeFailed) + ' ' + toolcontract::encodeLineText(reason));
}

void ProbeList::handOver(long index, const std::string &path)
{
    if (!converter.running() && (!startError.empty() || !startConverter())) {
        fail(index, startError);
        return;
    }
    converter.indices.push_back(index);
    converter.paths.push_back(path);
    converter.answered.push_back(false);
    if (converter.in < 0)
        return; // it stopped reading; converterEnded() hands the path to the next one
    converter.unsent += path;
    converter.unsent += '\0';
    sendToConverter(); // at once, so that it measures while the front does
}

bool ProbeList::startConverter()
{
    int requests[2] = {-1, -1}, answers[2] = {-1, -1}, execError[2] = {-1, -1};
    if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0 || pipe2(execError, O_CLOEXEC) != 0) {
        startError = "cannot start the converter: " + std::string(std::strerror(errno));
        for (int *pair : {requests, answers})
            for (int i = 0; i < 2; ++i)
                closeDescriptor(pair[i]);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // It stops with the front, even when the front is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(exitFailure);
        dup2(requests[0], STDIN_FILENO);
        dup2(answers[1], STDOUT_FILENO);
        std::signal(SIGPIPE, SIG_DFL);
        const char *arguments[] = {converterPath.c_str(), toolcontract::kProbeListOption, nullptr};
        execv(converterPath.c_str(), const_cast<char *const *>(arguments));
        const int error = errno;
        (void)!write(execError[1], &error, sizeof error);
        _exit(exitFailure);
    }
    const int forkError = errno;
    close(requests[0]);
    close(answers[1]);
    close(execError[1]);
    int error = pid < 0 ? forkError : 0;
    if (pid > 0) {
        while (read(execError[0], &error, sizeof error) < 0 && errno == EINTR) {
        }
    }
    close(execError[0]);
    if (error != 0) {
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        close(requests[1]);
        close(answers[0]);
        startError = "cannot start the converter \"" + converterPath + "\": " + std::strerror(error);
        return false;
    }
    fcntl(requests[1], F_SETFL, O_NONBLOCK);
    fcntl(answers[0], F_SETFL, O_NONBLOCK);
    converter = Converter();
    converter.pid = pid;
    converter.in = requests[1];
    converter.out = answers[0];
    return true;
}

void ProbeList::sendToConverter()
{
    while (converter.in >= 0 && !converter.unsent.empty()) {
        const ssize_t wrote = write(converter.in, converter.unsent.data(), converter.unsent.size());
        if (wrote > 0) {
            converter.unsent.erase(0, static_cast<std::size_t>(wrote));
        } else if (wrote < 0 && errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                closeDescriptor(converter.in); // it ended; its answers still come
                converter.unsent.clear();
            }
            return;
        }
    }
}

// Its lines "Probe <index> <answer>", with the index of the list.
void ProbeList::readFromConverter()
{
    char bytes[4096];
    const ssize_t got = read(converter.out, bytes, sizeof bytes);
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            return;
    }
    if (got <= 0) {
        converterEnded();
        return;
    }
    converter.partialLine.append(bytes, static_cast<std::size_t>(got));
    const std::string prefix = toolcontract::kProbeAnswerPrefix;
    std::size_t start = 0;
    for (std::size_t newline; (newline = converter.partialLine.find('\n', start)) != std::string::npos;
         start = newline + 1) {
        const std::string line = converter.partialLine.substr(start, newline - start);
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        char *rest = nullptr;
        const char *number = line.c_str() + prefix.size();
        errno = 0;
        const unsigned long child = std::strtoul(number, &rest, 10);
        if (rest == number || *rest != ' ' || errno != 0 || child >= converter.indices.size()
            || converter.answered[child])
            continue;
        converter.answered[child] = true;
        answer(converter.indices[child], rest + 1);
    }
    converter.partialLine.erase(0, start);
}

// The converter answers in order: the first path it left unanswered is the
// one it ended on. That file fails; the paths after it go to a new one.
void ProbeList::converterEnded()
{
    closeDescriptor(converter.in);
    closeDescriptor(converter.out);
    int status = 0;
    while (waitpid(converter.pid, &status, 0) < 0 && errno == EINTR) {
    }
    Converter ended = std::move(converter);
    converter = Converter();
    bool culpritFound = false;
    for (std::size_t i = 0; i < ended.indices.size() && stopSignal == 0 && !listBroken; ++i) {
        if (ended.answered[i])
            continue;
        if (!culpritFound) {
            culpritFound = true;
            fail(ended.indices[i], "the converter " + describeEnd(status) + " while measuring \"" + ended.paths[i] + "\"");
        } else {
            handOver(ended.indices[i], ended.paths[i]);
        }
    }
}

// A stop or a closed output: the converter is told to stop (it ends within
// its deadline) and reaped.
void ProbeList::stopConverter()
{
    if (!converter.running())
        return;
    closeDescriptor(converter.in);
    closeDescriptor(converter.out);
    kill(converter.pid, SIGTERM);
    alarm(toolcontract::kStopDeadlineSeconds + 1);
    while (waitpid(converter.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    converter = Converter();
}

} // namespace

int answerProbeList(const std::string &converter)
{
    return ProbeList(converter).run();
}
