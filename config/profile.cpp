#include "config/profile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#include <algorithm>

namespace kirt {

namespace {

QString& current()
{
    static QString name;
    return name;
}

} // namespace

QString profileNameRefusal(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a profile name cannot be empty");
    if (name == u'.' || name == QLatin1String(".."))
        return QStringLiteral("a profile name cannot be '.' or '..'");
    if (name.contains(u'/') || name.contains(u'\\'))
        return QStringLiteral("a profile name cannot contain '/' or '\\'");
    if (std::any_of(name.cbegin(), name.cend(),
                    [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("a profile name cannot contain control characters");
    // A name that reads as an option is surely a mistake on the command line.
    if (name.startsWith(u'-'))
        return QStringLiteral("a profile name cannot start with '-'");
    if (QFile::encodeName(name).size() > 255)
        return QStringLiteral("a profile name is at most 255 bytes long");
    return {};
}

void setCurrentProfile(const QString& name)
{
    current() = name;
}

QString currentProfile()
{
    return current();
}

QString profileFolder(const QString& name)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    base += QStringLiteral("/kirt");
    return name.isEmpty() ? base : base + QStringLiteral("/profiles/") + name;
}

ProfileClaim::ProfileClaim(QString name) : m_name(std::move(name))
{
    const QString folder = profileFolder(m_name);
    // No folder can be made: nothing can be written either, so there is nothing to guard.
    if (!QDir().mkpath(folder))
        return;
    m_lock = std::make_unique<QLockFile>(folder + QStringLiteral("/kirt.lock"));
    // A window may run for days: only a holder that ended makes its lock stale, never its age.
    m_lock->setStaleLockTime(0);
    m_owned = m_lock->tryLock(0) || m_lock->error() != QLockFile::LockFailedError;
}

ProfileClaim::~ProfileClaim() = default;

} // namespace kirt
