#pragma once

#include <chrono>

#include <time.h>

namespace kirt::test {

// CPU seconds this process has used so far, all threads, user and system together.
inline double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The share of one core the whole process used while wait() ran, by the wall clock: 1.0 is
// one core busy all the time.
template <typename Wait> double cpuShareDuring(Wait&& wait)
{
    const double cpuBefore = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    wait();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return (processCpuSeconds() - cpuBefore) / wall.count();
}

} // namespace kirt::test
