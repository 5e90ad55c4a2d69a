#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kirt::test {

// A real ser2net serving a device (a pseudo-terminal's slave) on a free loopback port, as a
// child of the test: telnet with serial port control (rfc2217://) or the bytes alone (tcp://).
class Ser2netServer
{
public:
    ~Ser2netServer() { stop(); }

    // The program, where Debian puts it even when sbin is not on the path; empty if absent.
    static QString program()
    {
        QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(
                QStringLiteral("ser2net"),
                {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
        return found;
    }

    // Starts serving and returns once it listens; false with the reason in error otherwise.
    // A server started again keeps its port unless told another.
    bool start(const QString& devicePath, bool rfc2217, QString& error, quint16 port = 0)
    {
        stop();
        if (program().isEmpty()) {
            error = QStringLiteral("ser2net is not installed");
            return false;
        }
        m_rfc2217 = rfc2217;
        m_port = port != 0 ? port : freePort();
        if (m_port == 0 || !m_dir.isValid()) {
            error = QStringLiteral("no free loopback port or no temporary folder");
            return false;
        }
        const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            error = file.errorString();
            return false;
        }
        // kickolduser: a connection left over from a failed step never blocks the next one.
        file.write(QStringLiteral("connection: &con0\n"
                                  "  accepter: %1tcp,127.0.0.1,%2\n"
                                  "  connector: serialdev,%3,9600n81,local\n"
                                  "  options:\n"
                                  "    kickolduser: true\n"
                                  "    chardelay: %4\n")
                       .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                       .arg(m_port)
                       .arg(devicePath)
                       .arg(charDelay ? QStringLiteral("true") : QStringLiteral("false"))
                       .toUtf8());
        file.close();
        // In the foreground, no lock files, its pid file out of the system's way.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program(),
                        {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                         m_dir.filePath(QStringLiteral("ser2net.pid")), QStringLiteral("-c"),
                         config});
        if (!m_process.waitForStarted(5000)) {
            error = m_process.errorString();
            return false;
        }
        const QDeadlineTimer deadline(5000);
        while (!listening()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
                error = QStringLiteral("ser2net does not listen: ") +
                        QString::fromLocal8Bit(m_process.readAll());
                stop();
                return false;
            }
            QThread::msleep(10);
        }
        return true;
    }

    // ser2net's default: it waits a few character times for more bytes before it sends what
    // the device gave, which adds milliseconds to every answer. Off: it sends at once.
    bool charDelay = true;

    quint16 port() const { return m_port; }
    QString address() const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(m_rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
            .arg(m_port);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        resume();
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // Holds the server still: its system keeps the connection, but nothing answers.
    void pause() { signal(SIGSTOP); }
    void resume() { signal(SIGCONT); }

    // A loopback port nobody listens on at this moment.
    static quint16 freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        quint16 port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0)
            ::close(fd);
        return port;
    }

private:
    void signal(int number)
    {
        if (m_process.state() == QProcess::Running)
            ::kill(static_cast<pid_t>(m_process.processId()), number);
    }

    // Read from the system's table rather than by connecting, which ser2net would count as a
    // client.
    bool listening() const
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local =
            "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
        constexpr char Listen[] = "0A";
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == Listen)
                return true;
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_rfc2217 = true;
};

} // namespace kirt::test
