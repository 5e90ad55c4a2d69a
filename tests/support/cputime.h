#pragma once

#include <time.h>

namespace kirt::test {

// CPU seconds this process has used so far, all threads, user and system together.
inline double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace kirt::test
