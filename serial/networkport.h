#pragma once

#include "serial/netaddress.h"
#include "serial/readwakeup.h"
#include "serial/rfc2217settings.h"
#include "serial/serialport.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace kirt {

// A serial port on another machine: "rfc2217://HOST:PORT" carries the line settings, the
// modem lines and break to the far port; "tcp://HOST:PORT" carries the bytes and nothing
// else.
//
// Plain non-blocking POSIX sockets rather than QTcpSocket: a Qt socket belongs to one thread
// and its event loop, while this port is read on the receive thread and written on the main
// thread. A socket takes a recv and a send from two threads at once, so the read side and the
// write side each keep a mutex of their own, and poll with an eventfd wakes a pending read
// for purge and close, exactly as the local port does.
class NetworkPort final : public SerialPort
{
public:
    struct Timing
    {
        std::chrono::milliseconds connect{5000};
        // How long a line setting may go unanswered before the apply fails.
        std::chrono::milliseconds answer{2000};
        // On a line quiet this long the server is asked for its rate; no word from it within
        // probeAnswer after that means the connection is gone.
        std::chrono::milliseconds quietProbe{5000};
        std::chrono::milliseconds probeAnswer{5000};
    };

    NetworkPort() = default;
    explicit NetworkPort(const Timing& timing) : m_timing(timing) {}
    ~NetworkPort() override;

    NetworkPort(const NetworkPort&) = delete;
    NetworkPort& operator=(const NetworkPort&) = delete;

    // The device path is the address; a malformed one is refused with its reason.
    SerialStatus open(const QString& devicePath) override;
    SerialStatus readState() override;
    SerialStatus applyState(const ComSettings& settings) override;
    int readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs) override;
    std::size_t writeBytes(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t writeAvailable(const std::uint8_t* bytes, std::size_t count) override;
    // The socket: it polls writable when the connection takes more bytes.
    int writeReadyDescriptor() const override { return m_fd; }
    bool modemLinesMayAppear() const override { return isOpen() && telnet(); }
    void purge() override;
    void close() override;
    bool isOpen() const override;
    void cancelOpen() override;
    std::uint32_t readTimeoutMs() const override;
    SerialStatus setModemLine(ModemLine line, bool on) override;
    SerialStatus setBreak(bool on) override;
    ModemStatus modemStatus() override;
    bool deviceLost() const override;
    QString dropReason() const override;

    // As the local port: a write gives up after this long without progress.
    static constexpr int WriteWaitMs = 2000;
    // Our commands and answers that the server has not taken: a server that lets more pile up
    // does not read, and is dropped.
    static constexpr std::size_t MaxUnsent = 64 * 1024;
    // The far port's data read while the settings wait for their answers, before anyone reads
    // the port: beyond it the socket is left unread and the device held back, as at any other
    // time. A serial line sends a small part of it while a server answers.
    static constexpr std::size_t MaxHeldWhileWaiting = 1024 * 1024;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int Woken = -2;

    bool telnet() const { return m_address.scheme == NetworkScheme::Rfc2217; }

    // Read side; m_readMutex held.
    int receiveLocked(std::uint8_t* out, std::size_t capacity, Clock::time_point deadline);
    std::size_t decodeLocked(std::uint8_t* bytes, std::size_t count);
    bool stillAliveLocked(Clock::time_point now, Clock::time_point& wakeAt);
    void discardLocked();
    int lostLocked();

    // Write side.
    void send(const telnet::Bytes& bytes);
    bool flushPendingLocked();
    std::size_t sendData(const std::uint8_t* bytes, std::size_t count);
    void writeFailed(int error);
    // Gives the connection up for reason; m_writeMutex held.
    void dropLocked(const QString& reason);
    QString lossText() const;

    // Waits for the server, reading the socket itself while no other thread does.
    bool waitForServer(const std::function<bool()>& answered, Clock::time_point deadline);
    void closeDescriptors();

    const Timing m_timing{};
    NetworkAddress m_address;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_purgeAsked{false};
    std::atomic<std::uint32_t> m_readTimeoutMs{2};
    int m_fd = -1;
    ReadWakeUp m_wake;

    // The reader holds m_readMutex inside poll and recv; the closer takes it after waking
    // the reader.
    std::mutex m_readMutex;
    telnet::Decoder m_decoder;
    // Data read while the settings were applied, handed on from m_rxHead.
    std::vector<std::uint8_t> m_rxQueue;
    std::size_t m_rxHead = 0;
    std::vector<telnet::Event> m_events;
    Clock::time_point m_lastHeard;
    std::optional<Clock::time_point> m_probeSentAt;

    // Encoded bytes the socket has not taken yet: the second half of a doubled IAC, commands.
    mutable std::mutex m_writeMutex;
    std::vector<std::uint8_t> m_txPending;
    std::size_t m_txHead = 0;
    std::atomic<bool> m_txBacklog{false};
    std::atomic<bool> m_dropped{false};
    QString m_dropReason; // m_writeMutex

    // What the server said; the reader writes it, applyState and modemStatus read it.
    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    telnet::Negotiation m_negotiation;
    telnet::ComReplies m_replies{};
    std::optional<std::uint8_t> m_modemState;
    bool m_hasLines = false; // the server answered a line command
};

} // namespace kirt
