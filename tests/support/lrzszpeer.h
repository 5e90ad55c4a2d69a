#pragma once

#include "tests/support/ptydevice.h"

#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kirt::test {

// One of lrzsz's programs playing the board: its standard input and output are one end of a
// socket pair, and a thread relays between the other end and a pseudo-terminal's master. On
// the terminal itself the program would flush it after every answer and lose bytes in flight.
class LrzszPeer
{
public:
    ~LrzszPeer() { stop(); }

    static bool installed() { return !QStandardPaths::findExecutable("rb").isEmpty(); }

    // Flips a byte in the middle of every nth long read from the program on its way to Kirt.
    void corruptEvery(int nth) { m_corruptEvery = nth; }

    bool start(int masterFd, const QString& program, const QStringList& arguments,
               const QString& folder = {})
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        m_socket = pair[0];
        const int child = pair[1];
        ::fcntl(m_socket, F_SETFL, ::fcntl(m_socket, F_GETFL) | O_NONBLOCK);
        m_process.setWorkingDirectory(folder);
        m_process.setChildProcessModifier([child] {
            ::dup2(child, STDIN_FILENO);
            ::dup2(child, STDOUT_FILENO);
        });
        m_process.start(program, arguments);
        ::close(child);
        if (!m_process.waitForStarted(5000))
            return false;
        if (::pipe2(m_wake, O_CLOEXEC) != 0)
            return false;
        m_master = masterFd;
        m_thread = std::thread([this] { relay(); });
        return true;
    }

    // Serves events until the program ends; false at the time limit.
    bool waitForEnd(int ms = 30000)
    {
        return PtyDevice::waitUntil([this] { return m_process.state() == QProcess::NotRunning; },
                                    ms);
    }
    int exitCode() const { return m_process.exitCode(); }
    QString report() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    // A polite stop: lrzsz cancels the transfer on its way out.
    void terminate() { ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM); }

    void stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            [[maybe_unused]] const auto woken = ::write(m_wake[1], "x", 1);
            m_thread.join();
        }
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
        for (int* fd : {&m_socket, &m_wake[0], &m_wake[1]})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
    }

private:
    void relay()
    {
        QByteArray toProgram, toKirt;
        char buffer[4096];
        int reads = 0;
        bool programGone = false;
        while (!m_stop && !(programGone && toKirt.isEmpty())) {
            const auto events = [](bool in, bool out) {
                return static_cast<short>((in ? POLLIN : 0) | (out ? POLLOUT : 0));
            };
            pollfd fds[3] = {
                {m_master, events(toProgram.isEmpty(), !toKirt.isEmpty()), 0},
                {m_socket, events(toKirt.isEmpty() && !programGone, !toProgram.isEmpty()), 0},
                {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 3, 100) < 0 && errno != EINTR)
                return;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    toProgram.append(buffer, n);
            }
            if (fds[1].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(m_socket, buffer, sizeof buffer);
                if (n == 0)
                    programGone = true;
                if (n > 0) {
                    if (m_corruptEvery > 0 && n > 64 && ++reads % m_corruptEvery == 0)
                        buffer[n / 2] = char(buffer[n / 2] ^ 0x55);
                    toKirt.append(buffer, n);
                }
            }
            flush(m_socket, toProgram, true);
            flush(m_master, toKirt, false);
        }
    }

    static void flush(int fd, QByteArray& bytes, bool socket)
    {
        if (bytes.isEmpty())
            return;
        // A program that has gone must not take the test with it.
        const auto size = static_cast<size_t>(bytes.size());
        const ssize_t n = socket ? ::send(fd, bytes.constData(), size, MSG_NOSIGNAL)
                                 : ::write(fd, bytes.constData(), size);
        if (n > 0)
            bytes.remove(0, n);
    }

    QProcess m_process;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    int m_master = -1;
    int m_socket = -1;
    int m_wake[2] = {-1, -1};
    int m_corruptEvery = 0;
};

} // namespace kirt::test
