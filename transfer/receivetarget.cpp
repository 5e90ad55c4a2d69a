#include "transfer/receivetarget.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <chrono>
#include <filesystem>
#include <system_error>

namespace kirt {

namespace {

QString writeError(const QString& name, const QString& reason)
{
    return QStringLiteral("cannot write %1: %2").arg(name, reason);
}

bool openPart(platform::FileHandle& part, const QString& path, const QString& name, QString& error)
{
    part = platform::FileHandle::createBeside(path);
    if (!part.isOpen()) {
        error = writeError(name, part.error());
        return false;
    }
    return true;
}

// The sender's time for the file, where it gave one; a file system that refuses keeps its own.
void setModified(const QString& path, std::int64_t seconds)
{
    using namespace std::chrono;
    std::error_code ignored;
    std::filesystem::last_write_time(
        std::filesystem::path(QFile::encodeName(path).toStdString()),
        file_clock::from_sys(sys_seconds(std::chrono::seconds(seconds))), ignored);
}

} // namespace

QString cleanReceivedName(const QString& sent)
{
    // Either slash separates folders: a sender may be on another system.
    QString name = sent.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
    name.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    name = name.trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("received");
    // Room for " (99)" and the part file's ending within the system's 255 bytes.
    while (QFile::encodeName(name).size() > 200)
        name.chop(1);
    return name;
}

QString freeFileName(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    const auto taken = [&dir](const QString& candidate) {
        return platform::pathStatus(dir.filePath(candidate), platform::Links::Keep).type !=
               platform::FileStatus::Type::Missing;
    };
    if (!taken(name))
        return name;
    // "fw.bin" -> "fw (1).bin"; a name with no dot but the first keeps it whole.
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ending = dot > 0 ? name.mid(dot) : QString();
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(ending);
        if (!taken(candidate))
            return candidate;
    }
}

FileReceiveTarget::FileReceiveTarget(const QString& path) : m_path(path) {}

bool FileReceiveTarget::begin(const QString&, std::optional<std::int64_t>, QString& error)
{
    return openPart(m_part, m_path, name(), error);
}

QString FileReceiveTarget::name() const
{
    return QFileInfo(m_path).fileName();
}

bool FileReceiveTarget::write(const char* bytes, std::size_t count, QString& error)
{
    if (m_part.write(bytes, static_cast<qint64>(count)))
        return true;
    error = writeError(name(), m_part.error());
    return false;
}

bool FileReceiveTarget::finish(QString& error)
{
    if (!m_part.replace(m_path)) {
        error = writeError(name(), m_part.error());
        m_part.close();
        return false;
    }
    m_part.close();
    return true;
}

void FileReceiveTarget::abort()
{
    m_part.close();
}

FolderReceiveTarget::FolderReceiveTarget(const QString& folder) : m_folder(folder) {}

bool FolderReceiveTarget::begin(const QString& sentName, std::optional<std::int64_t> mtime,
                                QString& error)
{
    m_name = freeFileName(m_folder, cleanReceivedName(sentName));
    m_mtime = mtime;
    return openPart(m_part, QDir(m_folder).filePath(m_name), m_name, error);
}

bool FolderReceiveTarget::write(const char* bytes, std::size_t count, QString& error)
{
    if (m_part.write(bytes, static_cast<qint64>(count)))
        return true;
    error = writeError(m_name, m_part.error());
    return false;
}

bool FolderReceiveTarget::finish(QString& error)
{
    // A file of that name may have come meanwhile; it stays.
    m_name = freeFileName(m_folder, m_name);
    const QString path = QDir(m_folder).filePath(m_name);
    if (!m_part.replace(path)) {
        error = writeError(m_name, m_part.error());
        m_part.close();
        return false;
    }
    m_part.close();
    if (m_mtime)
        setModified(path, *m_mtime);
    return true;
}

void FolderReceiveTarget::abort()
{
    m_part.close();
}

} // namespace kirt
