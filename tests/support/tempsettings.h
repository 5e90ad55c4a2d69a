#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kirt::test {

// A private XDG_CONFIG_HOME for one test: its settings file and port links live there.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    QString configHome() const { return m_dir.path(); }
    QString settingsFile() const;
    bool exists() const;
    // Writes the settings file verbatim (the caller supplies the [Kirt] section).
    void write(const QByteArray& iniText) const;
    QByteArray read() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

} // namespace kirt::test
