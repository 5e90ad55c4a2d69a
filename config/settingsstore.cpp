#include "config/settingsstore.h"

#include "base/pathkind.h"
#include "config/profile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <climits>

namespace kirt {

namespace {
const QString Section = QStringLiteral("Kirt");
}

SettingsStore::SettingsStore() : SettingsStore(currentProfile()) {}

SettingsStore::SettingsStore(const QString& profile)
    : m_path(profileFolder(profile) + QStringLiteral("/kirt.ini"))
{
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::usable(const PathKind& kind)
{
    if (!kind.regular()) {
        m_refusal = kind.reason;
        return false;
    }
    if (kind.size > MaxFileSize) {
        m_refusal = QStringLiteral("It is larger than 1 MB: not a settings file.");
        return false;
    }
    return true;
}

bool SettingsStore::openForRead()
{
    // Only a regular file (or a link to one) is read: anything else counts as no settings.
    const PathKind kind = inspectPath(m_path);
    if (kind.kind == PathKind::Kind::Missing || !usable(kind))
        return false;
    auto settings = std::make_unique<QSettings>(kind.target, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError || !settings->childGroups().contains(Section))
        return false;
    settings->beginGroup(Section);
    m_settings = std::move(settings);
    return true;
}

bool SettingsStore::openForWrite()
{
    const QString& path = m_path;
    const PathKind kind = inspectPath(path);
    if (kind.kind != PathKind::Kind::Missing && !usable(kind))
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // Through a link the target is written (by a new file renamed over it), so the link
    // stays where the user put it.
    const QString target = kind.regular() ? kind.target : path;
    auto settings = std::make_unique<QSettings>(target, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError || !settings->isWritable())
        return false;
    settings->beginGroup(Section);
    m_settings = std::move(settings);
    return true;
}

bool SettingsStore::close()
{
    if (!m_settings)
        return true;
    m_settings->endGroup();
    m_settings->sync();
    const bool written = m_settings->status() == QSettings::NoError;
    m_settings.reset();
    return written;
}

SettingsStore::ReadStatus SettingsStore::readInt(const QString& name, int& value) const
{
    if (!m_settings || !m_settings->contains(name))
        return ReadStatus::Absent;
    const QVariant stored = m_settings->value(name);
    bool ok = false;
    int parsed = 0;
    switch (stored.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        // Values written by this process come back with their own type, not as text.
        const qlonglong wide = stored.toLongLong(&ok);
        ok = ok && wide >= INT_MIN && wide <= INT_MAX;
        parsed = static_cast<int>(wide);
        break;
    }
    case QMetaType::QString:
        // The file keeps text: only a plain decimal that fits 32 bits counts as an integer.
        parsed = stored.toString().trimmed().toInt(&ok, 10);
        break;
    default:
        break;
    }
    if (!ok)
        return ReadStatus::WrongType;
    value = parsed;
    return ReadStatus::Ok;
}

SettingsStore::ReadStatus SettingsStore::readString(const QString& name, QString& value) const
{
    if (!m_settings || !m_settings->contains(name)) {
        value.clear();
        return ReadStatus::Ok;
    }
    const QVariant stored = m_settings->value(name);
    if (stored.typeId() != QMetaType::QString)
        return ReadStatus::WrongType;
    value = stored.toString();
    return ReadStatus::Ok;
}

void SettingsStore::writeInt(const QString& name, int value)
{
    if (m_settings)
        m_settings->setValue(name, value);
}

void SettingsStore::writeString(const QString& name, const QString& value)
{
    if (m_settings)
        m_settings->setValue(name, value);
}

} // namespace kirt
