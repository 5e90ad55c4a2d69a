#pragma once

#include "serial/devicediscovery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kirt::test {

// A device folder of plain files standing in for device nodes, a by-id folder of links into it,
// and the list the system would report. Installed as the source in force while it lives.
class FakeDevices final : public DeviceSource
{
public:
    FakeDevices() { setDeviceSource(this); }
    ~FakeDevices() override { setDeviceSource(nullptr); }
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;

    QList<SerialDevice> systemPorts() const override { return m_ports; }
    QString byIdDirectory() const override { return m_dir.filePath(QStringLiteral("by-id")); }
    QStringList watchedFolders() const override
    {
        return {m_dir.filePath(QStringLiteral("dev")), byIdDirectory()};
    }

    // Adds a node named `name`; with byId, a persistent name leading to it. Returns its path.
    QString add(const QString& name, SerialDevice identity = {}, const QString& byId = {})
    {
        QDir().mkpath(m_dir.filePath(QStringLiteral("dev")));
        identity.path = m_dir.filePath(QStringLiteral("dev/") + name);
        QFile node(identity.path);
        node.open(QIODevice::WriteOnly);
        if (!byId.isEmpty()) {
            QDir().mkpath(byIdDirectory());
            QFile::link(identity.path, byIdDirectory() + QLatin1Char('/') + byId);
        }
        m_ports << identity;
        return identity.path;
    }

    void unplug(const QString& path)
    {
        QFile::remove(path);
        m_ports.removeIf([&](const SerialDevice& d) { return d.path == path; });
    }

private:
    QTemporaryDir m_dir;
    QList<SerialDevice> m_ports;
};

} // namespace kirt::test
