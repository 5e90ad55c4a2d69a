#pragma once

#include "serial/netaddress.h"
#include "serial/serialport.h"

#include <atomic>
#include <chrono>

namespace kirt {

struct TcpConnection
{
    int fd = -1; // non-blocking, close-on-exec; -1 when the connection failed
    SerialStatus status;
};

// Looks the host up and connects to it, all within timeout. Nothing is sent. The socket
// sends small writes at once and probes a quiet connection with short keep-alives, so a
// vanished peer ends the connection within seconds rather than hours.
// A flag set by another thread gives up at once (ECANCELED).
TcpConnection connectTcp(const NetworkAddress& address, std::chrono::milliseconds timeout,
                         const std::atomic<bool>* cancelled = nullptr);

// The keep-alive timing: the first probe after this much silence, then one every interval;
// after ProbeCount unanswered probes, or data unacknowledged for UnackedLimit, the system
// ends the connection.
inline constexpr int KeepAliveIdleS = 5;
inline constexpr int KeepAliveIntervalS = 2;
inline constexpr int KeepAliveProbeCount = 3;
inline constexpr unsigned UnackedLimitMs = 15000;
// What the system may hold of our bytes on their way out.
inline constexpr int SendBufferBytes = 64 * 1024;
// What it may hold of the far port's bytes before we read them: seconds of the fastest serial
// line, so a device that outruns the reader is held back near where we read, not tens of
// megabytes later.
inline constexpr int ReceiveBufferBytes = 256 * 1024;

} // namespace kirt
