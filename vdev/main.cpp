#include "serial/portmap.h"
#include "vdev/device.h"
#include "vdev/options.h"
#include "vdev/portlink.h"
#include "vdev/ptymaster.h"
#include "vdev/shellprocess.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace kirt;
using namespace kirt::vdev;

namespace {

// While no program has the port open the master cannot be polled (it reports a hang-up all
// the time), so the device looks again this often.
constexpr Nanos ClosedPortCheck = std::chrono::milliseconds(50);
constexpr qsizetype ReadChunk = 4096;
// The stream waits while answers are queued, so that its count is what really went out.
constexpr qsizetype StreamRoom = 1 << 16;

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// SIGINT, SIGTERM and SIGHUP arrive as readable data, so that the loop ends where it waits
// and the link is always removed.
int stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

timespec toTimespec(Nanos span)
{
    const std::int64_t ns = std::max<std::int64_t>(span.count(), 0);
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

enum class Ended { Stopped, Unplugged, ShellEnded };

// Plays the device until a stop signal comes or, when given, the time to unplug; adds what it
// received to `received`.
Ended serve(PtyMaster& pty, VirtualDevice& device, OutputQueue& queue, int stopFd,
            std::optional<Nanos> unplugAt, std::int64_t& received)
{
    char buffer[ReadChunk];
    const auto write = [&pty](const char* bytes, qsizetype size) { return pty.write(bytes, size); };
    for (;;) {
        Nanos now = steadyNow();
        if (unplugAt && now >= *unplugAt)
            return Ended::Unplugged;
        const bool open = pty.peerOpen();
        if (open && !device.isConnected()) {
            device.connect(now);
        } else if (!open && device.isConnected()) {
            device.disconnect();
            queue.clear();
        }

        const DeviceOutput due = device.tick(now, queue.isEmpty() ? StreamRoom : 0);
        queue.append(due.data);
        queue.append(due.stream, true);
        if (open)
            queue.flush(write);

        Nanos wait = device.nextWake(now, queue.isEmpty()) - now;
        if (!open)
            wait = std::min(wait, ClosedPortCheck);
        if (unplugAt)
            wait = std::min(wait, *unplugAt - now);
        pollfd fds[2] = {
            {stopFd, POLLIN, 0},
            {pty.fd(), static_cast<short>(POLLIN | (queue.isEmpty() ? 0 : POLLOUT)), 0}};
        const timespec timeout = toTimespec(wait);
        if (::ppoll(fds, open ? 2 : 1, &timeout, nullptr) < 0 && errno != EINTR)
            return Ended::Stopped;
        if (fds[0].revents & POLLIN)
            return Ended::Stopped;
        if (open && (fds[1].revents & POLLIN)) {
            qsizetype got;
            while ((got = pty.read(buffer, ReadChunk)) > 0) {
                received += got;
                now = steadyNow();
                queue.append(device.receive(QByteArrayView(buffer, got), now));
            }
            queue.flush(write);
        }
    }
}

// Relays between the port and a shell until a stop signal comes or the shell ends. The shell
// is read only while the queue for the port has room, so a port nobody reads holds it up as
// a console's flow control would, and what it printed meanwhile is sent once the port opens.
Ended serveShell(PtyMaster& pty, ShellProcess& shell, OutputQueue& queue, int stopFd,
                 std::int64_t& received)
{
    char buffer[ReadChunk];
    QByteArray toShell;
    const auto write = [&pty](const char* bytes, qsizetype size) { return pty.write(bytes, size); };
    for (;;) {
        const bool open = pty.peerOpen();
        if (open)
            queue.flush(write);
        const bool room = queue.size() < OutputQueue::MaxQueued / 2;
        pollfd fds[3] = {
            {stopFd, POLLIN, 0},
            {shell.fd(),
             static_cast<short>((room ? POLLIN : 0) | (toShell.isEmpty() ? 0 : POLLOUT)), 0},
            {pty.fd(), static_cast<short>(POLLIN | (queue.isEmpty() ? 0 : POLLOUT)), 0}};
        const timespec timeout = toTimespec(ClosedPortCheck);
        if (::ppoll(fds, open ? 3 : 2, open ? nullptr : &timeout, nullptr) < 0 && errno != EINTR)
            return Ended::Stopped;
        if (fds[0].revents & POLLIN)
            return Ended::Stopped;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            qsizetype got;
            while (room && (got = shell.read(buffer, ReadChunk)) != 0) {
                if (got < 0) {
                    if (pty.peerOpen())
                        queue.flush(write);
                    return Ended::ShellEnded;
                }
                queue.append(QByteArray(buffer, got));
            }
        }
        if (open && (fds[2].revents & POLLIN)) {
            qsizetype got;
            while ((got = pty.read(buffer, ReadChunk)) > 0) {
                received += got;
                toShell.append(buffer, got);
            }
        }
        if (!toShell.isEmpty())
            toShell.remove(0, shell.write(toShell.constData(), toShell.size()));
    }
}

// True when a stop signal came within the time (forever without one).
bool stoppedWithin(int stopFd, std::optional<Nanos> span)
{
    pollfd stop{stopFd, POLLIN, 0};
    const timespec timeout = toTimespec(span.value_or(Nanos::zero()));
    int ready = 0;
    while ((ready = ::ppoll(&stop, 1, span ? &timeout : nullptr, nullptr)) < 0 && errno == EINTR)
        ;
    return ready != 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const ParsedOptions parsed = parseOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        print(parsed.exitCode == 0 ? stdout : stderr, parsed.text);
        return parsed.exitCode;
    }
    const Options& options = *parsed.options;

    std::signal(SIGPIPE, SIG_IGN);
    const int stopFd = stopSignals();
    if (stopFd < 0) {
        print(stderr, QStringLiteral("kirt-vdev: cannot watch for stop stopFd\n"));
        return 1;
    }

    auto pty = std::make_unique<PtyMaster>();
    QString error;
    if (!pty->open(&error)) {
        print(stderr, QStringLiteral("kirt-vdev: cannot make a pseudo-terminal: %1\n").arg(error));
        return 1;
    }
    QString note;
    const QString linkPath = portLinkDirectory() + QLatin1Char('/') + options.port;
    std::unique_ptr<PortLink> link =
        PortLink::publish(linkPath, pty->slavePath(), options.force, &error, &note);
    if (!link) {
        print(stderr, QStringLiteral("kirt-vdev: %1\n").arg(error));
        return 1;
    }
    if (!note.isEmpty())
        print(stderr, QStringLiteral("kirt-vdev: %1\n").arg(note));
    const QByteArray variable = "KIRT_" + options.port.toLatin1();
    if (!qEnvironmentVariableIsEmpty(variable.constData()))
        print(stderr, QStringLiteral("kirt-vdev: %1 is set, so a Kirt started with it opens %2 "
                                     "instead of this device\n")
                          .arg(QLatin1String(variable), qEnvironmentVariable(variable)));

    OutputQueue queue;
    std::int64_t received = 0;
    if (options.shell) {
        ShellProcess shell;
        if (!shell.start(options.shellCommand, &error)) {
            print(stderr, QStringLiteral("kirt-vdev: cannot start the shell: %1\n").arg(error));
            return 1;
        }
        print(stdout, QStringLiteral("kirt-vdev: serving %1 on %2 (console: %3); Ctrl+C stops it\n")
                          .arg(options.port, pty->slavePath(),
                               options.shellCommand.isEmpty() ? QStringLiteral("interactive shell")
                                                              : options.shellCommand));
        if (serveShell(*pty, shell, queue, stopFd, received) == Ended::ShellEnded)
            print(stdout, QStringLiteral("kirt-vdev: the shell ended with exit status %1\n")
                              .arg(shell.reap(true).value_or(-1)));
    }

    VirtualDevice device(options.device, steadyNow());
    if (!options.shell)
        print(stdout, QStringLiteral("kirt-vdev: serving %1 on %2 (%3); Ctrl+C stops it\n")
                          .arg(options.port, pty->slavePath(), describeBehaviour(options.device)));
    while (!options.shell) {
        std::optional<Nanos> unplugAt;
        if (options.unplugAfter)
            unplugAt = steadyNow() + *options.unplugAfter;
        if (serve(*pty, device, queue, stopFd, unplugAt, received) == Ended::Stopped)
            break;
        // Pulled out: the program sees a hang-up, and the link leads nowhere until the device
        // is back, as an adapter's by-id link does.
        const QString gone = pty->slavePath();
        pty.reset();
        device.disconnect();
        queue.clear();
        print(stdout,
              QStringLiteral("kirt-vdev: unplugged %1 (%2 is gone)\n").arg(options.port, gone));
        if (stoppedWithin(stopFd, options.replugAfter))
            break;

        auto fresh = std::make_unique<PtyMaster>();
        if (!fresh->open(&error)) {
            print(stderr,
                  QStringLiteral("kirt-vdev: cannot make a pseudo-terminal: %1\n").arg(error));
            break;
        }
        // A new link even when the kernel hands out the same number again: a terminal waiting
        // for its device takes only a link made after the loss.
        if (!link->renew(fresh->slavePath(), &error)) {
            print(stderr, QStringLiteral("kirt-vdev: %1\n").arg(error));
            break;
        }
        pty = std::move(fresh);
        print(stdout, QStringLiteral("kirt-vdev: plugged in again: serving %1 on %2\n")
                          .arg(options.port, pty->slavePath()));
    }
    link->withdraw();

    QString summary = QStringLiteral("kirt-vdev: stopped; sent %1 bytes").arg(queue.sent());
    if (options.device.stream != StreamKind::None)
        summary += QStringLiteral(" (%1 of them streamed)").arg(queue.streamed());
    summary += QStringLiteral(", received %1 bytes").arg(received);
    if (queue.dropped() > 0)
        summary += QStringLiteral(", dropped %1 bytes nobody read").arg(queue.dropped());
    print(stdout, summary + QLatin1Char('\n'));
    ::close(stopFd);
    return 0;
}
