#pragma once

#include "base/comsettings.h"
#include "serial/termiosport.h"
#include "tests/support/ptydevice.h"

#include <cstdint>

namespace kirt::test {

// 9600 8N1 without flow control: the settings a port test starts from.
inline ComSettings settings8N1(std::uint32_t readTimeoutMs = 2)
{
    ComSettings settings;
    settings.baudRate = 9600;
    settings.readTimeoutMs = readTimeoutMs;
    return settings;
}

// Opens the pty's slave with the steps the window uses.
inline bool openOver(TermiosPort& port, const PtyDevice& device, const ComSettings& settings)
{
    return port.open(device.slavePath()).ok() && port.readState().ok() &&
           port.applyState(settings).ok();
}

} // namespace kirt::test
