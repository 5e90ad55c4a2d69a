#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace kirt {

struct PathKind;

// The per-user store of the twelve settings: an INI file in the profile's folder (see
// profileFolder: kirt/kirt.ini under $XDG_CONFIG_HOME, default ~/.config), section [Kirt]. A
// missing file or section is the first run. Only a regular file of at most 1 MB, or a link to one,
// is read or written; anything else at the path (a FIFO, a device, a folder, a link to one of those
// or to nothing) counts as no settings and is never opened, and refusal() says why.
class SettingsStore
{
public:
    enum class ReadStatus { Ok, Absent, WrongType };

    // The store of the current profile, or of the named one.
    SettingsStore();
    explicit SettingsStore(const QString& profile);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString path() const { return m_path; }

    static constexpr qint64 MaxFileSize = 1 << 20;

    // Opens the section for reading without creating it; false when it does not exist or the
    // path holds no settings file.
    bool openForRead();
    // Opens the section, creating the file and folder when missing; false when impossible.
    bool openForWrite();
    // Writes what was set; false when the file could not be written.
    bool close();
    // Why the path holds no settings file, when that kept it from being read or written;
    // empty otherwise (a folder that cannot be made, a file that cannot be written).
    QString refusal() const { return m_refusal; }

    // A 32-bit integer; Absent when missing, WrongType when stored as anything else.
    ReadStatus readInt(const QString& name, int& value) const;
    // A string; a missing value reads as the empty string, so only WrongType can fail.
    ReadStatus readString(const QString& name, QString& value) const;

    void writeInt(const QString& name, int value);
    void writeString(const QString& name, const QString& value);

private:
    bool usable(const PathKind& kind);

    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QString m_refusal;
};

} // namespace kirt
