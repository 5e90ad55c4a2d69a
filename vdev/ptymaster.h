#pragma once

#include <QByteArray>
#include <QString>

namespace kirt::vdev {

// The device's end of a pseudo-terminal pair. The slave is left raw (no echo, no line
// editing), so what either side writes arrives unchanged, and closed, so that the device can
// tell whether a program has the port open.
class PtyMaster
{
public:
    PtyMaster() = default;
    ~PtyMaster();
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    // False with `error` set when no pair could be made.
    bool open(QString* error);
    int fd() const { return m_fd; }
    QString slavePath() const { return m_slavePath; }

    // True while some program has the slave open. A master whose slave is closed reports a
    // hang-up; one whose slave was never opened does not, which is why open() opens and
    // closes it once.
    bool peerOpen() const;

    // Non-blocking: the bytes there are, or fewer than asked. Returns -1 when nothing could
    // be read or written for now, or the slave side was closed.
    qsizetype read(char* buffer, qsizetype size);
    qsizetype write(const char* bytes, qsizetype size);

private:
    int m_fd = -1;
    QString m_slavePath;
};

} // namespace kirt::vdev
