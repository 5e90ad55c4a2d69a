#pragma once

#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace kirt {

// The eventfd a port polls beside its device or socket: neither tcflush nor close wakes a
// thread blocked in poll, so a purge or a close writes here and the read returns.
class ReadWakeUp
{
public:
    // 0, or the system's errno when the eventfd cannot be made.
    int open()
    {
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return m_fd < 0 ? errno : 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }
    // Any thread.
    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }
    // The reader, once poll has seen the wake-up.
    void drain() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = ::read(m_fd, &count, sizeof count);
    }

private:
    int m_fd = -1;
};

} // namespace kirt
