#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <functional>

class QFile;
class QObject;

// What Kirt asks of the operating system outside the serial layer: files opened with care,
// the process's signals and its memory. Another system changes serial/ and this file.
namespace kirt::platform {

// A regular file read whole: up to `limit` bytes, so that one byte more tells a file larger
// than its caller allows. The path is opened without following a link and without waiting
// (a FIFO or a link swapped in since the caller checked the path is refused, not read).
struct FileBytes
{
    QByteArray bytes;
    QString error; // the system's reason, or what the path turned out to be; empty when read
};
FileBytes readRegularFile(const QString& path, qint64 limit);

// Which file a path or a descriptor leads to: equal for two names of one file (hard links
// included), different for a file put in place of another.
struct FileId
{
    quint64 device = 0;
    quint64 node = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// What a path names, or what an open file is, as the system says without opening anything.
struct FileStatus
{
    enum class Type { Missing, Failed, Regular, Folder, Fifo, Device, Socket, Link, Other };
    Type type = Type::Missing; // Missing also when a folder on the way is not one
    FileId id;
    qint64 size = 0;
    qint64 links = 0;  // names the file has; 0 once it was removed while open
    QString error;     // Failed: the system's reason
    bool loop = false; // Failed because links lead round in a circle

    bool found() const { return type != Type::Missing && type != Type::Failed; }
};
enum class Links { Follow, Keep };
FileStatus pathStatus(const QString& path, Links links);
// The file open as `file`; Failed when it has no descriptor.
FileStatus fileStatus(const QFile& file);

// A file open for appending that never waits: opening a FIFO without a reader, or writing to
// a device that cannot take a byte, fails at once. Each failing call leaves the system's
// reason in error().
class FileHandle
{
public:
    enum class Create {
        IfMissing, // the path's file, made if need be; a link is followed
        OnlyNew,   // a new file; fails if anything, a link included, is at the path already
    };
    static FileHandle openForAppend(const QString& path, Create create);
    // An empty file beside path, with the mode a new file gets, to take path's place through
    // replace(). Removed again if it is closed before.
    static FileHandle createBeside(const QString& path);

    FileHandle() = default;
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }

    bool isOpen() const { return m_fd >= 0; }
    QString error() const { return m_error; }
    FileStatus status() const;
    bool truncate(); // to nothing
    // Up to size bytes from offset, whatever the append position; 0 at the end, -1 on failure.
    qint64 readAt(char* data, qint64 size, qint64 offset);
    // All of it, or false.
    bool write(const char* data, qint64 size);
    // Renames the file made by createBeside over path, taking the place of the file there.
    bool replace(const QString& path);
    void close();

private:
    bool failed();

    int m_fd = -1;
    QByteArray m_beside; // the name of a createBeside file not yet in place
    QString m_error;
};

// Ctrl+C and a polite kill call onInterrupt on owner's thread, through its event loop, not in
// the signal handler, until stopWatchingInterrupts() or owner's end. False when the watch
// cannot be set up (the signals then keep their default action).
bool watchInterrupts(QObject* owner, std::function<void()> onInterrupt);
void stopWatchingInterrupts();

// The memory the process holds in RAM now; 0 when the system does not say.
std::int64_t residentBytes();

} // namespace kirt::platform
