#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace kirt {

// The per-user store of the twelve settings: an INI file under $XDG_CONFIG_HOME (default
// ~/.config), kirt/kirt.ini, section [Kirt]. A missing file or section is the first run.
class SettingsStore
{
public:
    enum class ReadStatus { Ok, Absent, WrongType };

    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString filePath();

    // Opens the section for reading without creating it; false when it does not exist.
    bool openForRead();
    // Opens the section, creating the file and folder when missing; false when impossible.
    bool openForWrite();
    void close();

    // A 32-bit integer; Absent when missing, WrongType when stored as anything else.
    ReadStatus readInt(const QString& name, int& value) const;
    // A string; a missing value reads as the empty string, so only WrongType can fail.
    ReadStatus readString(const QString& name, QString& value) const;

    void writeInt(const QString& name, int value);
    void writeString(const QString& name, const QString& value);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace kirt
