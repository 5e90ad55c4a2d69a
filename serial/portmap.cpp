#include "serial/portmap.h"

#include "serial/netaddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>

#include <unistd.h>

namespace kirt {

namespace {

QString environmentName(int number)
{
    return QStringLiteral("KIRT_COM%1").arg(number);
}

// Shows a path below the home folder as "~/...", the way a user would type it.
QString homeRelative(const QString& path)
{
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

// The target as the link holds it. A network address is no path: resolved as one, it would
// become a file name below the link folder.
QString rawLinkTarget(const QString& link)
{
    std::array<char, 4096> target{};
    const ssize_t size =
        ::readlink(QFile::encodeName(link).constData(), target.data(), target.size() - 1);
    return size > 0 ? QFile::decodeName(QByteArray(target.data(), size)) : QString();
}

} // namespace

QString portLinkDirectory()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid by the base directory rules and is ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QLatin1String("/.config");
    return QDir::cleanPath(base + QLatin1String("/kirt/ports"));
}

std::optional<PortResolution> resolvePort(const QString& portName)
{
    const int number = comPortNumber(portName);
    if (number == 0)
        return std::nullopt;

    PortResolution result;
    const QString variable = environmentName(number);
    const QString fromEnvironment = qEnvironmentVariable(variable.toLatin1().constData());
    if (!fromEnvironment.isEmpty()) {
        result.devicePath = fromEnvironment;
        result.source = PortSource::Environment;
        result.origin = variable;
        return result;
    }

    // A dangling link still wins: the user asked for that device, and opening it then
    // reports that it is absent rather than silently opening another port.
    const QString link = portLinkDirectory() + QLatin1Char('/') + portName;
    const QFileInfo linkInfo(link);
    if (linkInfo.isSymLink() || linkInfo.exists()) {
        result.devicePath = link;
        result.source = PortSource::ConfigLink;
        result.origin = link;
        if (linkInfo.isSymLink()) {
            const QString raw = rawLinkTarget(link);
            if (isNetworkAddress(raw)) {
                result.devicePath = raw;
                result.linkTarget = raw;
            } else {
                result.linkTarget = linkInfo.symLinkTarget();
            }
        }
        return result;
    }

    result.devicePath = QStringLiteral("/dev/ttyS%1").arg(number - 1);
    result.source = PortSource::Default;
    return result;
}

QString describePort(const QString& portName)
{
    const std::optional<PortResolution> port = resolvePort(portName);
    if (!port)
        return {};
    switch (port->source) {
    case PortSource::Environment:
        return QStringLiteral("%1 (%2)").arg(port->devicePath, port->origin);
    case PortSource::ConfigLink:
        if (!port->linkTarget.isEmpty())
            return QStringLiteral("%1 (link %2)").arg(port->linkTarget, homeRelative(port->origin));
        return QStringLiteral("%1 (configured)").arg(homeRelative(port->devicePath));
    case PortSource::Default:
        break;
    }
    return QStringLiteral("%1 (default)").arg(port->devicePath);
}

} // namespace kirt
