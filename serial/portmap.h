#pragma once

#include "base/comsettings.h"
#include "serial/netaddress.h"

#include <QString>

#include <optional>

namespace kirt {

// Where the device behind a port name came from.
enum class PortSource {
    Environment, // KIRT_COMn
    ConfigLink,  // $XDG_CONFIG_HOME/kirt/ports/COMn
    Default      // /dev/ttyS<n-1>
};

struct PortResolution
{
    // The path to open. For a configured link this is the link itself, so that a link
    // re-pointed while the program runs takes effect at the next open; a link to a network
    // address gives the address, read from the link at each resolution.
    QString devicePath;
    PortSource source = PortSource::Default;
    // The environment variable or link that supplied the path; empty for the default.
    QString origin;
    // Where the link points (empty unless source is ConfigLink); a network address as written.
    QString linkTarget;

    // The port is on another machine: an address, not a device of this one.
    bool networked() const { return isNetworkAddress(devicePath); }
};

// The folder that holds the per-port links: $XDG_CONFIG_HOME/kirt/ports, or
// ~/.config/kirt/ports when the variable is unset, empty or not absolute.
QString portLinkDirectory();

// Resolves a port name in the order: environment variable, configured link, the kernel's
// own serial port. A name that is not COM1..COM30 resolves to nothing.
std::optional<PortResolution> resolvePort(const QString& portName);

// One line for the settings page, e.g. "/dev/ttyS2 (default)" or
// "/dev/ttyUSB0 (link ~/.config/kirt/ports/COM3)"; empty for a name that resolves to nothing.
QString describePort(const QString& portName);

} // namespace kirt
