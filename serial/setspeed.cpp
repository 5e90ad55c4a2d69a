#include "serial/setspeed.h"

#include <cerrno>

#if defined(__linux__)
// The kernel's definitions of termios2 and its requests; <termios.h> defines a struct of the
// same name with another layout, so it must not be included here.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace kirt {

#if defined(__linux__) && defined(BOTHER) && defined(TCGETS2)

bool arbitrarySpeedAvailable()
{
    return true;
}

bool setArbitrarySpeed(int fd, std::uint32_t baud)
{
    termios2 state{};
    if (::ioctl(fd, TCGETS2, &state) != 0)
        return false;
    state.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    state.c_cflag |= BOTHER;
    state.c_ispeed = baud;
    state.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &state) == 0;
}

bool readArbitrarySpeed(int fd, std::uint32_t& baud)
{
    termios2 state{};
    if (::ioctl(fd, TCGETS2, &state) != 0)
        return false;
    baud = state.c_ospeed;
    return true;
}

#else

bool arbitrarySpeedAvailable()
{
    return false;
}

bool setArbitrarySpeed(int, std::uint32_t)
{
    errno = ENOTSUP;
    return false;
}

bool readArbitrarySpeed(int, std::uint32_t&)
{
    errno = ENOTSUP;
    return false;
}

#endif

} // namespace kirt
