#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

namespace kirt::vdev {

// A shell on a pseudo-terminal of its own, as on a board's console: the child has the slave
// as its controlling terminal and standard input, output and error, with the terminal's line
// discipline (echo, line editing, Ctrl+C) as a serial console has it.
class ShellProcess
{
public:
    static constexpr unsigned short Rows = 24;
    static constexpr unsigned short Cols = 80;

    ShellProcess() = default;
    // Hangs the terminal up and reaps the child.
    ~ShellProcess();
    ShellProcess(const ShellProcess&) = delete;
    ShellProcess& operator=(const ShellProcess&) = delete;

    // command run by /bin/sh -c; empty: $SHELL (or /bin/sh) interactive.
    bool start(const QString& command, QString* error);
    int fd() const { return m_fd; }

    // Non-blocking. read: the bytes there are, 0 for none now, -1 once the shell and
    // everything it started have closed the terminal. write: how many were taken.
    qsizetype read(char* buffer, qsizetype size);
    qsizetype write(const char* bytes, qsizetype size);

    // The child's exit status once it has ended (a signal counts as 128 + its number).
    std::optional<int> reap(bool wait);

private:
    int m_fd = -1;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

} // namespace kirt::vdev
