#pragma once

#include "base/comsettings.h"

#include <QString>

#include <termios.h>

#include <cstdint>

namespace kirt {

// The line state a set of settings asks for, built from the state the device reported.
struct TermiosBuild
{
    bool ok = false;
    termios state{};
    // The rate has no speed constant: state keeps the device's speed and the rate is set
    // afterwards through the kernel's arbitrary-rate interface.
    bool customBaud = false;
    std::uint32_t baudRate = 0;
    QString refusal; // why the settings cannot be produced, when !ok
};

// Raw mode, baud rate, CS5..CS8, CSTOPB, PARENB/PARODD (with CMSPAR for mark and space),
// flow control (CRTSCTS, or IXON and IXOFF with DC1/DC3), modem lines ignored, reads of at
// least one byte. Everything else keeps the device's value. Refuses 4 data bits and 1.5 stop bits,
// which Linux has not.
TermiosBuild buildTermios(const termios& current, const ComSettings& settings);

// Whether the rate can be set on this platform, as a speed constant or as an arbitrary rate.
bool baudRateSupported(std::uint32_t baudRate);

} // namespace kirt
