#pragma once

#include "serial/serialport.h"

#include <QTest>

#include <chrono>
#include <cstdint>
#include <future>
#include <optional>

namespace kirt::test {

// A read that may wait ten seconds, begun on another thread and given a moment to wait, then
// wake() from this one: what the read returned, or nothing if it did not end within 5 s.
template <typename Wake> std::optional<int> pendingReadAfter(SerialPort& port, Wake wake)
{
    auto reader = std::async(std::launch::async, [&port] {
        std::uint8_t buffer[16];
        return port.readChunkWithin(buffer, sizeof buffer, 10000);
    });
    QTest::qWait(100);
    wake();
    if (reader.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        return std::nullopt;
    return reader.get();
}

} // namespace kirt::test
