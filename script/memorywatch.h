#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kirt {

// Watches the process's resident memory from a thread of its own and calls overBound (on that
// thread, once) when it has grown by more than a bound since start(). A thread and not a timer
// of the owner's: the owner's events may wait while the script is busy.
class MemoryWatch
{
public:
    MemoryWatch() = default;
    ~MemoryWatch() { stop(); }
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;

    void start(std::int64_t boundBytes, std::function<void()> overBound);
    void stop();

    // The process's resident bytes now; 0 where the system does not say.
    static std::int64_t residentBytes();
    // The most the resident memory grew over its level at start(), up to the last look.
    std::int64_t peakGrowth() const { return m_peakGrowth; }

    // Often enough that a script filling memory as fast as it can passes the bound by a few
    // tens of MB at most before it is told to stop; a look costs a few microseconds.
    static constexpr int PollMs = 10;

private:
    void watch(std::int64_t boundBytes, std::function<void()> overBound);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::int64_t m_start = 0;
    std::atomic<std::int64_t> m_peakGrowth = 0;
};

} // namespace kirt
