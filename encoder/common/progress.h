#pragma once

#include <chrono>

// Writes "ProgressMessage <seconds>" lines to standard error: one with 0 at
// the start, then one whenever the whole seconds converted change, but never
// more often than every 200 ms.
class ProgressReporter
{
public:
    void start();
    void update(double seconds);

private:
    void write(long seconds);

    long lastSeconds_ = -1;
    std::chrono::steady_clock::time_point lastTime_;
};
