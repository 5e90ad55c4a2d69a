#include "serial/deviceidentity.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace kirt {

DeviceIdentity identifyDevice(const QString& node, const QList<SerialDevice>& devices)
{
    const QString wanted = QFileInfo(node).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    for (const SerialDevice& device : devices) {
        if (QFileInfo(device.path).canonicalFilePath() != wanted)
            continue;
        DeviceIdentity identity;
        identity.byId = device.byIdPath;
        if (device.hasUsbIds)
            identity.usb = QStringLiteral("%1:%2:%3")
                               .arg(device.vendorId, 4, 16, QLatin1Char('0'))
                               .arg(device.productId, 4, 16, QLatin1Char('0'))
                               .arg(device.serialNumber);
        return identity;
    }
    return {};
}

DeviceIdentity identifyDevice(const QString& node)
{
    return identifyDevice(node, discoverDevices());
}

LinkStamp stampOfLink(const QString& path)
{
    struct stat info
    {
    };
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    LinkStamp stamp;
    stamp.exists = true;
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    stamp.changedNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
                      static_cast<std::int64_t>(info.st_ctim.tv_nsec);
    return stamp;
}

} // namespace kirt
