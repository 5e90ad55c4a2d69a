#include "vdev/portlink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace kirt::vdev {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A pseudo-terminal's slave that no longer exists: what a device that was killed leaves.
bool isStaleDeviceLink(const QString& target)
{
    return target.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo::exists(target);
}

// Puts a link at `path` in one step, replacing whatever link is there, so that a terminal
// opening the port never finds the name missing.
bool replaceLink(const QString& path, const QString& target, QString* error)
{
    const QByteArray temporary =
        QFile::encodeName(path + QLatin1String(".kirt-vdev-") + QString::number(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int failure = errno;
        ::unlink(temporary.constData());
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(path, systemError(failure));
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> linkTargetOf(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(encoded.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return std::nullopt;
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t length =
        ::readlink(encoded.constData(), target.data(), static_cast<std::size_t>(target.size()));
    if (length < 0)
        return std::nullopt;
    target.truncate(length);
    return QFile::decodeName(target);
}

std::unique_ptr<PortLink> PortLink::publish(const QString& linkPath, const QString& target,
                                            bool force, QString* error, QString* note)
{
    const QString folder = QFileInfo(linkPath).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return nullptr;
    }

    const QByteArray encoded = QFile::encodeName(linkPath);
    if (::symlink(QFile::encodeName(target).constData(), encoded.constData()) == 0)
        return std::unique_ptr<PortLink>(new PortLink(linkPath, target, {}));
    if (errno != EEXIST) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(linkPath, systemError(errno));
        return nullptr;
    }

    const std::optional<QString> existing = linkTargetOf(linkPath);
    if (!existing) {
        if (error)
            *error = QStringLiteral("%1 exists and is not a link; remove it or choose another "
                                    "port")
                         .arg(linkPath);
        return nullptr;
    }
    QString restore;
    if (isStaleDeviceLink(*existing)) {
        if (note)
            *note = QStringLiteral("replaced a stale link to %1").arg(*existing);
    } else if (force) {
        restore = *existing;
        if (note)
            *note = QStringLiteral("replaced the link to %1 until exit").arg(*existing);
    } else {
        if (error) {
            *error = QStringLiteral("%1 already points at %2").arg(linkPath, *existing);
            if (existing->startsWith(QLatin1String("/dev/pts/")))
                *error += QStringLiteral(" (another virtual device may be serving it)");
            *error += QStringLiteral("; choose another port, or use --force to replace the "
                                     "link until exit");
        }
        return nullptr;
    }
    if (!replaceLink(linkPath, target, error))
        return nullptr;
    return std::unique_ptr<PortLink>(new PortLink(linkPath, target, restore));
}

PortLink::PortLink(QString path, QString target, QString restore)
    : m_path(std::move(path)), m_target(std::move(target)), m_restore(std::move(restore))
{
}

bool PortLink::renew(const QString& target, QString* error)
{
    const std::optional<QString> existing = linkTargetOf(m_path);
    if (existing && *existing != m_target && !isStaleDeviceLink(*existing)) {
        if (error)
            *error = QStringLiteral("%1 now points at %2; leaving it").arg(m_path, *existing);
        return false;
    }
    if (!replaceLink(m_path, target, error))
        return false;
    m_target = target;
    return true;
}

PortLink::~PortLink()
{
    withdraw();
}

void PortLink::withdraw()
{
    if (!m_active)
        return;
    m_active = false;
    if (linkTargetOf(m_path) != m_target)
        return;
    if (!m_restore.isEmpty())
        replaceLink(m_path, m_restore, nullptr);
    else
        ::unlink(QFile::encodeName(m_path).constData());
}

} // namespace kirt::vdev
