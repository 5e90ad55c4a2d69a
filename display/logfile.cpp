#include "display/logfile.h"

#include <QFileInfo>

#include <array>
#include <utility>

namespace kirt {

using platform::FileHandle;
using platform::FileStatus;

bool LogFile::start(const QString& path)
{
    stop();
    m_error.clear();
    m_written = 0;
    m_pending.clear();
    m_path = path;
    // A link the user chose leads to the file they meant; a link that appears later does not.
    const QFileInfo info(path);
    m_name = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    FileHandle file = FileHandle::openForAppend(m_name, FileHandle::Create::IfMissing);
    if (!file.isOpen())
        return fail(file.error());
    const FileStatus opened = file.status();
    if (!opened.found() || opened.type == FileStatus::Type::Fifo ||
        opened.type == FileStatus::Type::Folder)
        return fail(QStringLiteral("It is not a file the log can be written to."));
    // Emptied once it is known to be a regular file; a device chosen as the log is left as is.
    if (opened.type == FileStatus::Type::Regular && !file.truncate())
        return fail(file.error());
    use(std::move(file));
    return true;
}

void LogFile::use(FileHandle file)
{
    m_file = std::move(file);
    if (const FileStatus opened = m_file.status(); opened.found())
        m_id = opened.id;
}

void LogFile::add(const QString& text)
{
    if (isOpen())
        m_pending += text.toLatin1();
}

bool LogFile::flush()
{
    if (!isOpen())
        return fail(m_error.isEmpty() ? QStringLiteral("The log file is not open.") : m_error);
    if (fileReplaced() && !remake())
        return false;
    const QByteArray bytes = std::exchange(m_pending, QByteArray());
    if (!m_file.write(bytes.constData(), bytes.size()))
        return fail(m_file.error());
    m_written += bytes.size();
    return true;
}

bool LogFile::append(const QString& text)
{
    add(text);
    return flush();
}

bool LogFile::copyInto(FileHandle& to)
{
    // What was logged is still there behind the open file, a block at a time.
    std::array<char, 64 * 1024> block{};
    for (qint64 at = 0;;) {
        const qint64 got = m_file.readAt(block.data(), block.size(), at);
        if (got < 0)
            return fail(m_file.error());
        if (got == 0)
            return true;
        if (!to.write(block.data(), got))
            return fail(to.error());
        at += got;
    }
}

bool LogFile::remake()
{
    const FileStatus atPath = platform::pathStatus(m_name, platform::Links::Keep);
    if (atPath.type == FileStatus::Type::Failed)
        return fail(atPath.error);
    if (atPath.type == FileStatus::Type::Missing) {
        // Removed: a new file at the path, never through a link someone made meanwhile.
        FileHandle file = FileHandle::openForAppend(m_name, FileHandle::Create::OnlyNew);
        if (!file.isOpen())
            return fail(file.error());
        if (!copyInto(file))
            return false;
        use(std::move(file));
        return true;
    }
    if (atPath.type != FileStatus::Type::Regular)
        return fail(QStringLiteral("The log file was replaced by something that is not a "
                                   "regular file; nothing was written to it."));
    // Another regular file: the complete log is written beside it and takes its place. The
    // file beside goes again with its handle if that fails.
    FileHandle beside = FileHandle::createBeside(m_name);
    if (!beside.isOpen())
        return fail(beside.error());
    if (!copyInto(beside))
        return false;
    if (!beside.replace(m_name))
        return fail(beside.error());
    use(std::move(beside));
    return true;
}

void LogFile::stop()
{
    m_pending.clear();
    m_file.close();
}

bool LogFile::fail(const QString& reason)
{
    m_error = reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    stop();
    return false;
}

bool LogFile::fileReplaced() const
{
    // Writes to a deleted file succeed and vanish with it; writes to a file no longer at the
    // path go where nobody looks. Either way the path must get the log again. The path is
    // looked at without following a link, so a link put there is never taken for the log.
    const FileStatus open = m_file.status();
    if (!open.found())
        return false;
    if (open.links == 0)
        return true;
    const FileStatus atPath = platform::pathStatus(m_name, platform::Links::Keep);
    return !atPath.found() || atPath.id != m_id;
}

} // namespace kirt
