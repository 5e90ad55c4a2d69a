#include "serial/devicediscovery.h"

#include "serial/netaddress.h"
#include "serial/portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace kirt {

namespace {

class SystemDeviceSource final : public DeviceSource
{
public:
    QList<SerialDevice> systemPorts() const override
    {
        QList<SerialDevice> devices;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            SerialDevice device;
            device.path = info.systemLocation();
            device.manufacturer = info.manufacturer();
            device.description = info.description();
            device.serialNumber = info.serialNumber();
            device.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
            device.vendorId = info.vendorIdentifier();
            device.productId = info.productIdentifier();
            devices << device;
        }
        return devices;
    }
};

DeviceSource* replacementSource = nullptr;

// The node a path leads to; a network address is its own device.
QString canonical(const QString& path)
{
    if (isNetworkAddress(path))
        return path;
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString SerialDevice::itemText() const
{
    QStringList parts{path};
    for (const QString& part : {description, serialNumber})
        if (!part.isEmpty())
            parts << part;
    return parts.join(QStringLiteral("  "));
}

QString SerialDevice::details() const
{
    QStringList lines{path};
    if (!byIdPath.isEmpty())
        lines << byIdPath;
    const std::pair<const char*, QString> facts[] = {
        {"Manufacturer", manufacturer},
        {"Product", description},
        {"Serial number", serialNumber},
        {"USB id", hasUsbIds ? QStringLiteral("%1:%2")
                                   .arg(vendorId, 4, 16, QLatin1Char('0'))
                                   .arg(productId, 4, 16, QLatin1Char('0'))
                             : QString()},
        {"Port", ports.join(QStringLiteral(", "))},
    };
    for (const auto& [name, value] : facts)
        if (!value.isEmpty())
            lines << QStringLiteral("%1: %2").arg(QLatin1String(name), value);
    return lines.join(QLatin1Char('\n'));
}

QString DeviceSource::byIdDirectory() const
{
    return QStringLiteral("/dev/serial/by-id");
}

QStringList DeviceSource::watchedFolders() const
{
    return {QStringLiteral("/dev"), QStringLiteral("/dev/serial"), byIdDirectory()};
}

DeviceSource& deviceSource()
{
    static SystemDeviceSource system;
    return replacementSource != nullptr ? *replacementSource : system;
}

void setDeviceSource(DeviceSource* replacement)
{
    replacementSource = replacement;
}

QList<SerialDevice> discoverDevices(const DeviceSource& source)
{
    QList<SerialDevice> devices = source.systemPorts();
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
    QStringList nodes;
    for (const SerialDevice& device : devices)
        nodes << canonical(device.path);

    const QDir byId(source.byIdDirectory());
    for (const QFileInfo& entry : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        const qsizetype at = nodes.indexOf(entry.canonicalFilePath());
        if (at >= 0 && devices[at].byIdPath.isEmpty())
            devices[at].byIdPath = entry.absoluteFilePath();
    }

    for (int number = 1; number <= LastPort; ++number) {
        const QString port = QStringLiteral("COM%1").arg(number);
        const auto resolution = resolvePort(port);
        if (!resolution || resolution->source == PortSource::Default)
            continue;
        const QString node = canonical(resolution->devicePath);
        if (node.isEmpty())
            continue;
        qsizetype at = nodes.indexOf(node);
        if (at < 0) {
            SerialDevice device;
            device.path = node;
            if (node.startsWith(QLatin1String("/dev/pts/")))
                device.description = QStringLiteral("pseudo-terminal");
            else if (isNetworkAddress(node))
                device.description = QStringLiteral("network port");
            devices << device;
            nodes << node;
            at = devices.size() - 1;
        }
        devices[at].ports << port;
    }
    return devices;
}

QString resolvedDeviceNode(const QString& portName)
{
    const auto resolution = resolvePort(portName);
    return resolution ? canonical(resolution->devicePath) : QString();
}

int indexOfPortDevice(const QList<SerialDevice>& devices, const QString& portName)
{
    const QString node = resolvedDeviceNode(portName);
    if (node.isEmpty())
        return -1;
    for (qsizetype i = 0; i < devices.size(); ++i)
        if (canonical(devices[i].path) == node)
            return static_cast<int>(i);
    return -1;
}

std::optional<SerialDevice> typedDevice(const QString& text, QString* refusal)
{
    const QString typed = text.trimmed();
    if (isNetworkAddress(typed)) {
        const NetworkAddressParse parsed = parseNetworkAddress(typed);
        if (!parsed.ok) {
            *refusal = parsed.refusal;
            return std::nullopt;
        }
        SerialDevice device;
        device.path = networkAddressText(parsed.address);
        return device;
    }
    // A link holds a relative target relative to its own folder: keep it absolute.
    const QString path = QFileInfo(typed).absoluteFilePath();
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *refusal = QStringLiteral("%1: %2").arg(path, systemText(errno));
        return std::nullopt;
    }
    if (!S_ISCHR(info.st_mode)) {
        *refusal = QStringLiteral("%1 is not a character device.").arg(path);
        return std::nullopt;
    }
    SerialDevice device;
    device.path = path;
    return device;
}

MapResult mapPortToDevice(const QString& portName, const SerialDevice& device)
{
    MapResult result;
    result.target = device.mapTarget();
    if (comPortNumber(portName) == 0) {
        result.reason = QStringLiteral("%1 is not a port name.").arg(portName);
        return result;
    }
    const QString folder = portLinkDirectory();
    result.linkPath = folder + QLatin1Char('/') + portName;
    if (!QDir().mkpath(folder)) {
        result.reason = QStringLiteral("The folder %1 cannot be made.").arg(folder);
        return result;
    }
    const QFileInfo existing(result.linkPath);
    if ((existing.exists() || existing.isSymLink()) && !existing.isSymLink()) {
        result.reason = QStringLiteral("%1 is not a symbolic link, so it is left as it is.")
                            .arg(result.linkPath);
        return result;
    }

    // A new link beside the old one, renamed over it: the port never leads nowhere between the
    // two steps.
    const QByteArray link = QFile::encodeName(result.linkPath);
    const QByteArray fresh = link + ".new";
    ::unlink(fresh.constData());
    if (::symlink(QFile::encodeName(result.target).constData(), fresh.constData()) != 0) {
        result.reason = systemText(errno);
        return result;
    }
    if (std::rename(fresh.constData(), link.constData()) != 0) {
        result.reason = systemText(errno);
        ::unlink(fresh.constData());
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace kirt
