#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace kirt {

// One serial device present on the system, with what identifies it to the user.
struct SerialDevice
{
    QString path; // the device node, e.g. /dev/ttyUSB0
    QString manufacturer;
    QString description; // the product, as the device names itself
    QString serialNumber;
    bool hasUsbIds = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // The persistent name under /dev/serial/by-id that leads here; empty when there is none.
    QString byIdPath;
    // The ports of the port map that lead here ("COM1", ...).
    QStringList ports;

    // "path  description  serial", the parts that are known, two blanks apart.
    QString itemText() const;
    // Everything known about the device, one fact a line.
    QString details() const;
    // What a port-map link should point at: the by-id name survives re-plugging into another
    // socket, the node's name does not.
    QString mapTarget() const { return byIdPath.isEmpty() ? path : byIdPath; }
};

// Where the system's serial ports come from; tests give their own.
class DeviceSource
{
public:
    virtual ~DeviceSource() = default;
    // The system's serial ports; byIdPath and ports are left empty.
    virtual QList<SerialDevice> systemPorts() const = 0;
    // The folder of persistent names.
    virtual QString byIdDirectory() const;
    // The folders whose changes mean a device came or went.
    virtual QStringList watchedFolders() const;
};

// The source in force: the system's unless a test installed its own.
DeviceSource& deviceSource();
// Installs a replacement (nullptr restores the system's); the caller keeps ownership.
void setDeviceSource(DeviceSource* replacement);

// The devices present now: the source's ports with their by-id names, then every device that a
// port of the port map (variable or link) leads to and the source does not list, such as a
// pseudo-terminal.
QList<SerialDevice> discoverDevices(const DeviceSource& source = deviceSource());

// The device node a port resolves to now (links followed); empty when the name is no port or
// the path leads nowhere.
QString resolvedDeviceNode(const QString& portName);

// The index in devices of the device the port resolves to now, or -1.
int indexOfPortDevice(const QList<SerialDevice>& devices, const QString& portName);

// The device a user typed: a path to a character device (made absolute), or a network address
// (rfc2217://HOST:PORT, tcp://HOST:PORT, written back in its usual form). Nothing, with the
// reason in refusal, when the path is missing or no device, or the address does not parse.
std::optional<SerialDevice> typedDevice(const QString& text, QString* refusal);

struct MapResult
{
    bool ok = false;
    QString linkPath;
    QString target;
    QString reason; // why the link was not written, when !ok
};

// Points the port's link in the port-map folder at the device (its by-id name when it has one).
// Anything there that is not a symbolic link is left as it is and reported.
MapResult mapPortToDevice(const QString& portName, const SerialDevice& device);

} // namespace kirt
