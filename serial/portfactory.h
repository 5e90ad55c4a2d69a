#pragma once

#include "serial/serialport.h"

#include <functional>
#include <memory>

namespace kirt {

// Makes the port objects a session opens; tests and other transports give their own.
using PortFactory = std::function<std::shared_ptr<SerialPort>()>;

// The platform's own serial port, or a port on another machine when the device is a network
// address.
PortFactory systemPortFactory();

} // namespace kirt
