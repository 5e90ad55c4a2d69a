#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

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

// Ctrl+C and a polite kill call onInterrupt on owner's thread, through its event loop, not in
// the signal handler, until stopWatchingInterrupts() or owner's end. False when the watch
// cannot be set up (the signals then keep their default action).
bool watchInterrupts(QObject* owner, std::function<void()> onInterrupt);
void stopWatchingInterrupts();

// The memory the process holds in RAM now; 0 when the system does not say.
std::int64_t residentBytes();

} // namespace kirt::platform
