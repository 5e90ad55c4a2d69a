#pragma once

#include <cstdint>

namespace kirt {

// Rates without a speed constant (56000, 250000, ...) go through the kernel's own termios2
// interface. Its definitions cannot share a unit with <termios.h>, so they stay in this one.

// Whether this system can run a port at a rate that has no speed constant.
bool arbitrarySpeedAvailable();

// Sets both directions of the port to baud, keeping the rest of its line state. False with
// errno set when the kernel refused.
bool setArbitrarySpeed(int fd, std::uint32_t baud);

// The output rate the port runs at, as the driver reports it (a UART rounds to its divisor).
// False with errno set when it cannot be read.
bool readArbitrarySpeed(int fd, std::uint32_t& baud);

} // namespace kirt
