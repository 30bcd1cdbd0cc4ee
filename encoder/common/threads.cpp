#include "common/threads.h"

#include "toolcontract.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A positive whole number, else 0.
int positiveNumber(const std::string &text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::max(0, std::atoi(text.c_str()));
}

bool startsWith(const std::string &text, const char *prefix, std::string &rest)
{
    const std::string p = prefix;
    if (text.compare(0, p.size(), p) != 0)
        return false;
    rest = text.substr(p.size());
    return true;
}

// Both descriptors ends of one pipe: make may have closed them for a job
// it did not mark as its own, and the numbers may since name files of this
// process, which must never be read or written as a jobserver.
bool isPipe(int readFd, int writeFd)
{
    struct stat readEnd;
    struct stat writeEnd;
    return fstat(readFd, &readEnd) == 0 && fstat(writeFd, &writeEnd) == 0 && S_ISFIFO(readEnd.st_mode) &&
           S_ISFIFO(writeEnd.st_mode) && readEnd.st_dev == writeEnd.st_dev && readEnd.st_ino == writeEnd.st_ino;
}

} // namespace

JobserverAuth parseMakeflags(const std::string &makeflags)
{
    JobserverAuth auth;
    std::istringstream words(makeflags);
    std::string word;
    std::string value;
    // Variable assignments follow " -- "; the last jobserver option counts,
    // as for make itself.
    while (words >> word && word != "--") {
        if (startsWith(word, "-j", value)) {
            auth.jobs = positiveNumber(value);
        } else if (startsWith(word, "--jobserver-auth=", value) || startsWith(word, "--jobserver-fds=", value)) {
            std::string path;
            if (startsWith(value, "fifo:", path)) {
                auth = JobserverAuth{true, -1, -1, path, auth.jobs};
                continue;
            }
            const std::size_t comma = value.find(',');
            const int readFd = comma == std::string::npos ? -1 : positiveNumber(value.substr(0, comma));
            const int writeFd = comma == std::string::npos ? -1 : positiveNumber(value.substr(comma + 1));
            // Descriptor 0 is standard input, never a jobserver; 0 also
            // stands for a malformed number here.
            auth = JobserverAuth{readFd > 0 && writeFd > 0, readFd, writeFd, std::string(), auth.jobs};
        }
    }
    return auth;
}

std::unique_ptr<ThreadBudget> ThreadBudget::fromEnvironment()
{
    // The cores this process may run on (taskset, a container's cpuset),
    // else the machine's.
    int cores = 0;
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = CPU_COUNT(&allowed);
    if (cores <= 0)
        cores = static_cast<int>(std::min(std::thread::hardware_concurrency(), 1024u));
    return fromSettings(std::getenv(toolcontract::kThreadsVariable), std::getenv("MAKEFLAGS"), std::max(1, cores));
}

std::unique_ptr<ThreadBudget> ThreadBudget::fromSettings(const char *threadsVariable, const char *makeflags, int cores)
{
    std::unique_ptr<ThreadBudget> budget(new ThreadBudget);
    // A value that is no positive number caps nothing.
    const int asked = threadsVariable ? positiveNumber(threadsVariable) : 0;
    const int cap = asked > 0 ? asked : INT_MAX;
    budget->limit_ = std::max(1, std::min(cap, cores));
    if (budget->limit_ == 1)
        return budget;

    const JobserverAuth auth = parseMakeflags(makeflags ? makeflags : "");
    if (!auth.found && auth.fifoPath.empty())
        return budget;
    if (auth.jobs > 0)
        budget->limit_ = std::min(budget->limit_, auth.jobs);
    // A jobserver we cannot use (make did not hand its pipe to this job, as
    // for a recipe line without "+") leaves one thread: taking the cores
    // would overrun make's budget.
    if (!auth.fifoPath.empty()) {
        budget->readFd_ = open(auth.fifoPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        budget->writeFd_ = open(auth.fifoPath.c_str(), O_WRONLY | O_CLOEXEC);
        budget->ownsWriteFd_ = true;
    } else if (isPipe(auth.readFd, auth.writeFd)) {
        // Reads must not block, but the inherited descriptor's flags are
        // shared with make and the other jobs: read through a description
        // of the same pipe of our own instead.
        const std::string path = "/proc/self/fd/" + std::to_string(auth.readFd);
        budget->readFd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        budget->writeFd_ = auth.writeFd;
    }
    if (budget->readFd_ < 0 || budget->writeFd_ < 0 || !isPipe(budget->readFd_, budget->writeFd_)) {
        if (budget->readFd_ >= 0)
            close(budget->readFd_);
        if (budget->ownsWriteFd_ && budget->writeFd_ >= 0)
            close(budget->writeFd_);
        budget->readFd_ = budget->writeFd_ = -1;
        budget->ownsWriteFd_ = false;
        budget->limit_ = 1;
    }
    return budget;
}

ThreadBudget::~ThreadBudget()
{
    if (readFd_ >= 0)
        close(readFd_);
    if (ownsWriteFd_ && writeFd_ >= 0)
        close(writeFd_);
}

std::unique_ptr<ThreadBudget::Token> ThreadBudget::tryAcquire()
{
    if (held_ >= limit_)
        return nullptr;
    char byte = '+';
    if (readFd_ >= 0) {
        ssize_t n;
        do
            n = read(readFd_, &byte, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1)
            return nullptr;
    }
    ++held_;
    return std::unique_ptr<Token>(new Token(*this, byte));
}

void ThreadBudget::giveBack(char byte)
{
    --held_;
    if (writeFd_ < 0)
        return;
    ssize_t n;
    do
        n = write(writeFd_, &byte, 1);
    while (n < 0 && errno == EINTR);
}

ThreadBudget::Token::~Token()
{
    budget_.giveBack(byte_);
}
