#include "vdev/shellprocess.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kirt::vdev {

ShellProcess::~ShellProcess()
{
    if (m_fd >= 0)
        ::close(m_fd); // the shell's session gets SIGHUP
    if (m_pid <= 0 || m_status)
        return;
    ::kill(m_pid, SIGHUP);
    for (int i = 0; i < 40 && !reap(false); ++i)
        ::usleep(25'000);
    if (!m_status) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
}

bool ShellProcess::start(const QString& command, QString* error)
{
    // Everything the child needs is made before the fork: after it only exec may follow.
    QByteArray program = "/bin/sh";
    std::vector<QByteArray> arguments;
    if (command.isEmpty()) {
        const QByteArray shell = qgetenv("SHELL");
        if (!shell.isEmpty() && ::access(shell.constData(), X_OK) == 0)
            program = shell;
        arguments = {program};
    } else {
        arguments = {program, "-c", QFile::encodeName(command)};
    }
    std::vector<char*> argv;
    for (QByteArray& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    qputenv("TERM", "xterm-256color");

    winsize size{};
    size.ws_row = Rows;
    size.ws_col = Cols;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) {
        *error = QStringLiteral("forkpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (pid == 0) {
        // The device blocks its stop signals and ignores SIGPIPE; the shell must not inherit
        // that, or Ctrl+C would not reach what it runs.
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_UNBLOCK, &all, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program.constData(), argv.data());
        ::_exit(127);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    m_fd = master;
    m_pid = pid;
    return true;
}

qsizetype ShellProcess::read(char* buffer, qsizetype size)
{
    ssize_t got;
    do
        got = ::read(m_fd, buffer, static_cast<std::size_t>(size));
    while (got < 0 && errno == EINTR);
    if (got > 0)
        return got;
    // EIO: every descriptor of the slave is closed.
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

qsizetype ShellProcess::write(const char* bytes, qsizetype size)
{
    ssize_t put;
    do
        put = ::write(m_fd, bytes, static_cast<std::size_t>(size));
    while (put < 0 && errno == EINTR);
    return put > 0 ? put : 0;
}

std::optional<int> ShellProcess::reap(bool wait)
{
    if (m_status || m_pid <= 0)
        return m_status;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(m_pid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR)
        ;
    if (done == m_pid)
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_status;
}

} // namespace kirt::vdev
