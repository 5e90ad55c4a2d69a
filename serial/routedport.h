#pragma once

#include "serial/serialport.h"

#include <memory>
#include <mutex>

namespace kirt {

// The port the system factory makes: a network address ("rfc2217://", "tcp://") opens a
// NetworkPort, anything else the local TermiosPort. The choice is made at each open, since
// the session makes its port before it knows the device.
class RoutedPort final : public SerialPort
{
public:
    RoutedPort() = default;
    ~RoutedPort() override;

    RoutedPort(const RoutedPort&) = delete;
    RoutedPort& operator=(const RoutedPort&) = delete;

    SerialStatus open(const QString& devicePath) override;
    SerialStatus readState() override;
    SerialStatus applyState(const ComSettings& settings) override;
    int readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs) override;
    std::size_t writeBytes(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t writeAvailable(const std::uint8_t* bytes, std::size_t count) override;
    int writeReadyDescriptor() const override;
    bool modemLinesMayAppear() const override;
    void purge() override;
    void close() override;
    bool isOpen() const override;
    std::uint32_t readTimeoutMs() const override;
    SerialStatus setModemLine(ModemLine line, bool on) override;
    SerialStatus setBreak(bool on) override;
    ModemStatus modemStatus() override;
    bool deviceLost() const override;
    QString dropReason() const override;

    // Whether the last open chose the network.
    bool networked() const;

private:
    std::shared_ptr<SerialPort> current() const;

    // The reader takes its own reference, so an open that changes the kind of port never
    // pulls the port from under a pending read.
    mutable std::mutex m_mutex;
    std::shared_ptr<SerialPort> m_port;
    bool m_networked = false;
};

} // namespace kirt
