#include "tests/support/tempsettings.h"

#include <QDir>
#include <QFile>

namespace kirt::test {

TempSettings::TempSettings() : m_configHome("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()) {}

QString TempSettings::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/kirt/kirt.ini");
}

bool TempSettings::exists() const
{
    return QFile::exists(settingsFile());
}

void TempSettings::write(const QByteArray& iniText) const
{
    QDir().mkpath(m_dir.path() + QStringLiteral("/kirt"));
    QFile file(settingsFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText);
}

QByteArray TempSettings::read() const
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace kirt::test
