#pragma once

#include "base/platform.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace kirt {

// Where a receive writes: one file at a time, written beside its place and put there only
// when whole, so a failed transfer leaves nothing half written.
class ReceiveTarget
{
public:
    virtual ~ReceiveTarget() = default;
    // A file begins; sentName is the sender's (empty for XMODEM, which sends none). False with
    // the reason.
    virtual bool begin(const QString& sentName, std::optional<std::int64_t> mtime,
                       QString& error) = 0;
    // The name it is written under, without the folder.
    virtual QString name() const = 0;
    virtual bool write(const char* bytes, std::size_t count, QString& error) = 0;
    // The file whole: put in its place.
    virtual bool finish(QString& error) = 0;
    // Removes what is half written.
    virtual void abort() = 0;
};

// An XMODEM receive into the file the user chose; a file there is replaced, at the end only.
class FileReceiveTarget final : public ReceiveTarget
{
public:
    explicit FileReceiveTarget(const QString& path);
    bool begin(const QString& sentName, std::optional<std::int64_t> mtime, QString& error) override;
    QString name() const override;
    bool write(const char* bytes, std::size_t count, QString& error) override;
    bool finish(QString& error) override;
    void abort() override;

private:
    QString m_path;
    platform::FileHandle m_part;
};

// A YMODEM receive into a folder: each file under the last part of its sent name, cleaned,
// never outside the folder and never over a file that is there ("fw.bin" becomes
// "fw (1).bin").
class FolderReceiveTarget final : public ReceiveTarget
{
public:
    explicit FolderReceiveTarget(const QString& folder);
    bool begin(const QString& sentName, std::optional<std::int64_t> mtime, QString& error) override;
    QString name() const override { return m_name; }
    bool write(const char* bytes, std::size_t count, QString& error) override;
    bool finish(QString& error) override;
    void abort() override;

private:
    QString m_folder;
    QString m_name;
    std::optional<std::int64_t> m_mtime;
    platform::FileHandle m_part;
};

// The last part of a sent name without control characters; never empty, "." or "..".
QString cleanReceivedName(const QString& sent);
// name itself when nothing in folder has it, else "name (1).ext", "name (2).ext", ...
QString freeFileName(const QString& folder, const QString& name);

} // namespace kirt
