#pragma once

#include "serial/readwakeup.h"
#include "serial/serialport.h"
#include "serial/termiosbuild.h"

#include <termios.h>

#include <atomic>
#include <mutex>

namespace kirt {

// Why a device may not be opened, for the box that says it could not: its owner, group and
// mode, and the group to join when joining one would grant access.
QString permissionHint(const QString& devicePath);

// The serial port over POSIX termios. Opened non-blocking and kept so: reads and writes wait
// in poll, which lets an eventfd beside the device wake a pending read.
class TermiosPort final : public SerialPort
{
public:
    TermiosPort() = default;
    ~TermiosPort() override;

    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    SerialStatus open(const QString& devicePath) override;
    SerialStatus readState() override;
    SerialStatus applyState(const ComSettings& settings) override;
    int readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs) override;
    int writeReadyDescriptor() const override { return m_fd; }
    std::size_t writeBytes(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t writeAvailable(const std::uint8_t* bytes, std::size_t count) override;
    void purge() override;
    void close() override;
    bool isOpen() const override;
    std::uint32_t readTimeoutMs() const override;
    SerialStatus setModemLine(ModemLine line, bool on) override;
    SerialStatus setBreak(bool on) override;
    ModemStatus modemStatus() override;
    bool deviceLost() const override;

    // How long a write waits for room in the output queue before giving the rest up.
    static constexpr int WriteWaitMs = 2000;

private:
    SerialStatus verify(const TermiosBuild& wanted);
    void closeDescriptors();
    int failedRead(int error);

    // The reader holds m_ioMutex only inside poll and read; the closer takes it, after
    // waking the reader, before it releases the descriptors.
    std::mutex m_ioMutex;
    int m_fd = -1;
    ReadWakeUp m_wake;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_lost{false};
    std::atomic<std::uint32_t> m_readTimeoutMs{2};

    termios m_saved{};
    bool m_haveSaved = false;
    termios m_current{};
    bool m_haveCurrent = false;
    bool m_breakOn = false;
};

} // namespace kirt
