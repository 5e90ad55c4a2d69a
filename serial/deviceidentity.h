#pragma once

#include "serial/devicediscovery.h"

#include <QString>

#include <cstdint>

namespace kirt {

// What tells one device from another that may appear under the same node: its persistent
// by-id name, or its USB ids and serial number. A pseudo-terminal has neither.
struct DeviceIdentity
{
    QString byId; // /dev/serial/by-id/...
    QString usb;  // "vvvv:pppp:serial"

    bool known() const { return !byId.isEmpty() || !usb.isEmpty(); }
    bool operator==(const DeviceIdentity&) const = default;
};

// The identity of the device at node (links followed) among devices; unknown when it is not
// listed or tells nothing about itself.
DeviceIdentity identifyDevice(const QString& node, const QList<SerialDevice>& devices);
// The same among the devices present now.
DeviceIdentity identifyDevice(const QString& node);

// A symbolic link as the file system holds it: made anew, it has another inode or change time.
struct LinkStamp
{
    bool exists = false;
    std::uint64_t inode = 0;
    std::int64_t changedNs = 0;

    bool operator==(const LinkStamp&) const = default;
};

LinkStamp stampOfLink(const QString& path);

} // namespace kirt
