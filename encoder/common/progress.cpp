#include "common/progress.h"

#include "toolcontract.h"

#include <cstdio>

namespace {
constexpr std::chrono::milliseconds minimumInterval(200);
}

void ProgressReporter::start()
{
    write(0);
}

void ProgressReporter::update(double seconds)
{
    const long whole = static_cast<long>(seconds);
    if (whole == lastSeconds_)
        return;
    if (std::chrono::steady_clock::now() - lastTime_ < minimumInterval)
        return;
    write(whole);
}

void ProgressReporter::write(long seconds)
{
    std::fprintf(stderr, "%s %ld\n", toolcontract::kProgressPrefix, seconds);
    std::fflush(stderr);
    lastSeconds_ = seconds;
    lastTime_ = std::chrono::steady_clock::now();
}
