#include "serial/routedport.h"

#include "serial/netaddress.h"
#include "serial/networkport.h"
#include "serial/termiosport.h"

#include <cerrno>
#include <cstring>

namespace kirt {

RoutedPort::~RoutedPort()
{
    close();
}

std::shared_ptr<SerialPort> RoutedPort::current() const
{
    const std::lock_guard lock(m_mutex);
    return m_port;
}

bool RoutedPort::networked() const
{
    const std::lock_guard lock(m_mutex);
    return m_networked;
}

SerialStatus RoutedPort::open(const QString& devicePath)
{
    const bool network = isNetworkAddress(devicePath);
    std::shared_ptr<SerialPort> port = current();
    if (port && network != networked()) {
        port->close();
        port.reset();
    }
    if (!port) {
        port = network ? std::shared_ptr<SerialPort>(std::make_shared<NetworkPort>())
                       : std::shared_ptr<SerialPort>(std::make_shared<TermiosPort>());
        const std::lock_guard lock(m_mutex);
        m_port = port;
        m_networked = network;
    }
    return port->open(devicePath);
}

SerialStatus RoutedPort::readState()
{
    const auto port = current();
    if (!port) {
        SerialStatus status;
        status.error = SerialError::NotOpen;
        status.osError = EBADF;
        status.reason = QString::fromLocal8Bit(std::strerror(EBADF));
        return status;
    }
    return port->readState();
}

SerialStatus RoutedPort::applyState(const ComSettings& settings)
{
    const auto port = current();
    return port ? port->applyState(settings) : readState();
}

int RoutedPort::readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs)
{
    const auto port = current();
    return port ? port->readChunkWithin(buffer, capacity, waitMs) : -1;
}

std::size_t RoutedPort::writeBytes(const std::uint8_t* bytes, std::size_t count)
{
    const auto port = current();
    return port ? port->writeBytes(bytes, count) : 0;
}

std::size_t RoutedPort::writeAvailable(const std::uint8_t* bytes, std::size_t count)
{
    const auto port = current();
    return port ? port->writeAvailable(bytes, count) : 0;
}

void RoutedPort::purge()
{
    if (const auto port = current())
        port->purge();
}

void RoutedPort::close()
{
    if (const auto port = current())
        port->close();
}

bool RoutedPort::isOpen() const
{
    const auto port = current();
    return port && port->isOpen();
}

std::uint32_t RoutedPort::readTimeoutMs() const
{
    const auto port = current();
    return port ? port->readTimeoutMs() : 2;
}

SerialStatus RoutedPort::setModemLine(ModemLine line, bool on)
{
    const auto port = current();
    return port ? port->setModemLine(line, on) : readState();
}

SerialStatus RoutedPort::setBreak(bool on)
{
    const auto port = current();
    return port ? port->setBreak(on) : readState();
}

ModemStatus RoutedPort::modemStatus()
{
    const auto port = current();
    return port ? port->modemStatus() : ModemStatus{};
}

int RoutedPort::writeReadyDescriptor() const
{
    const auto port = current();
    return port ? port->writeReadyDescriptor() : -1;
}

bool RoutedPort::modemLinesMayAppear() const
{
    const auto port = current();
    return port && port->modemLinesMayAppear();
}

QString RoutedPort::dropReason() const
{
    const std::shared_ptr<SerialPort> port = current();
    return port ? port->dropReason() : QString();
}

bool RoutedPort::deviceLost() const
{
    const auto port = current();
    return port && port->deviceLost();
}

} // namespace kirt
