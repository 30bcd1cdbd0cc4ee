#pragma once

#include <atomic>
#include <memory>
#include <string>

// How many encoder threads one conversion may run. The tool always has one
// (the thread it runs on, the implicit slot every job of make has); more
// come from a GNU make jobserver when MAKEFLAGS names one ("-jN
// --jobserver-auth=R,W", the pipe form, or "fifo:PATH"): one byte read from
// it per extra thread, written back when that thread ends. Without a
// jobserver the extra threads are the machine's other cores. MORVANE_THREADS
// caps the total; 1 is one encoder, no extra thread.
class ThreadBudget
{
public:
    // One extra thread; gives its slot back (to the jobserver) when
    // destroyed, whichever way the thread ends.
    class Token
    {
    public:
        ~Token();
        Token(const Token &) = delete;
        Token &operator=(const Token &) = delete;

    private:
        friend class ThreadBudget;
        Token(ThreadBudget &budget, char byte) : budget_(budget), byte_(byte) {}
        ThreadBudget &budget_;
        const char byte_;
    };

    // From the environment: MORVANE_THREADS, MAKEFLAGS, the cores.
    static std::unique_ptr<ThreadBudget> fromEnvironment();
    // As fromEnvironment(), with the variables' values given (null: unset)
    // and the cores counted as `cores`.
    static std::unique_ptr<ThreadBudget> fromSettings(const char *threadsVariable, const char *makeflags, int cores);

    ~ThreadBudget();
    ThreadBudget(const ThreadBudget &) = delete;
    ThreadBudget &operator=(const ThreadBudget &) = delete;

    // The most threads the conversion may ever hold, its own included.
    int limit() const { return limit_; }
    bool usesJobserver() const { return readFd_ >= 0; }

    // One more thread if one is free now, else null; never blocks. Tokens
    // must not outlive the budget.
    std::unique_ptr<Token> tryAcquire();

private:
    ThreadBudget() = default;
    void giveBack(char byte);

    int limit_ = 1;
    std::atomic<int> held_{1}; // the implicit slot; tokens end on any thread
    int readFd_ = -1; // our own non-blocking description of the jobserver
    int writeFd_ = -1;
    bool ownsWriteFd_ = false;
};

// The jobserver MAKEFLAGS names, parsed: pipe descriptors or a fifo's path,
// and the job count of "-jN" (0 when absent). Exposed for the tests.
struct JobserverAuth
{
    bool found = false;
    int readFd = -1;
    int writeFd = -1;
    std::string fifoPath;
    int jobs = 0;
};
JobserverAuth parseMakeflags(const std::string &makeflags);
