#pragma once

#include <QProcess>
#include <QRegularExpression>

namespace kirt::test {

// kirt-vdev serving one port (on the port map of the environment's XDG_CONFIG_HOME) for as long
// as this lives.
class VdevProcess
{
public:
    explicit VdevProcess(const QStringList& options)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(KIRT_VDEV_PATH), options);
        // Its one line names the device once the port's link is made.
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000))
            m_device = QRegularExpression(QStringLiteral(" on (\\S+) "))
                           .match(QString::fromLocal8Bit(m_process.readAllStandardOutput()))
                           .captured(1);
    }
    ~VdevProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    VdevProcess(const VdevProcess&) = delete;
    VdevProcess& operator=(const VdevProcess&) = delete;

    // The pseudo-terminal it serves; empty when it did not start.
    QString device() const { return m_device; }

private:
    QProcess m_process;
    QString m_device;
};

} // namespace kirt::test
