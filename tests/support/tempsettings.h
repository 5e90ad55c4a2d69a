#pragma once

#include "tests/support/environment.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kirt::test {

// A private XDG_CONFIG_HOME for one test: its settings file and port links live there.
class TempSettings
{
public:
    TempSettings();
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString configHome() const { return m_dir.path(); }
    QString settingsFile() const;
    bool exists() const;
    // Writes the settings file verbatim (the caller supplies the [Kirt] section).
    void write(const QByteArray& iniText) const;
    QByteArray read() const;

private:
    QTemporaryDir m_dir;
    EnvironmentOverride m_configHome; // after the folder: restored before the folder goes
};

} // namespace kirt::test
