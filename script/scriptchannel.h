#pragma once

#include "base/comsettings.h"
#include "serial/serialport.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace kirt {

class PortController;
struct TransferRequest;
struct TransferResult;

// What a script may do to the port, done on the owner's thread (the window's, or the one of a
// run without a window). Every call returns an error text, empty when it went well.
class ScriptPort
{
public:
    struct OpenOptions
    {
        std::optional<std::uint32_t> baud;
        std::optional<std::uint8_t> dataBits;
        std::optional<Parity> parity;
        std::optional<StopBits> stopBits;
        std::optional<FlowControl> flow;
    };

    virtual ~ScriptPort() = default;
    // port: "COMn", a device path or an address; empty for the port the run was given.
    virtual QString open(const QString& port, const OpenOptions& options) = 0;
    virtual QString close() = 0;
    virtual QString send(const QByteArray& bytes) = 0;
    virtual QString sendLine(int line) = 0;
    virtual QString setModemLine(ModemLine line, bool on) = 0;
    virtual QString sendBreak(int ms) = 0;
    // Nothing without modem lines (or without an open port).
    virtual std::optional<ModemStatus> modem() = 0;
    // A line for the user: the display in the window, standard output without one.
    virtual void log(const QString& text) = 0;
    // Lines in order, as one refresh of what the user sees; by default one log() each.
    virtual void logLines(const QStringList& lines)
    {
        for (const QString& line : lines)
            log(line);
    }
    // The port a file transfer claims; none where there is none.
    virtual PortController* transferPort() { return nullptr; }
    // The line settings a port the script opens of its own starts from, as open() would.
    virtual ComSettings lineSettings() const { return {}; }
    // A transfer's line at its end ("YMODEM: sent fw.bin, ...").
    virtual void transferLine(const QString& line) { log(line); }
};

// Where a script's thread meets the port session: the bytes received (fed on the owner's
// thread, taken on the script's) and the calls the script makes on the port (made on the
// owner's thread while the script's waits). Thread-safe; a cancel wakes every wait.
class ScriptChannel
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t ReceiveLimit = 64 * 1024;

    // owner: lives on the owner's thread; port calls run there through its event loop.
    ScriptChannel(QObject* owner, ScriptPort* port);

    // Owner's thread: received bytes. Beyond ReceiveLimit the oldest are dropped and counted.
    void feed(const std::uint8_t* bytes, std::size_t count);

    // Script's thread: what is buffered, as one byte a char, and how many bytes have arrived
    // since the start (so a wait knows what it has seen).
    QByteArray peek(std::uint64_t* arrived = nullptr) const;
    // Takes the first count bytes of what peek gave (arrived as peek reported it), also when
    // older bytes were dropped meanwhile.
    void consume(std::uint64_t arrivedAtPeek, std::size_t peeked, std::size_t count);
    // Drops what is buffered; returns how many bytes that was.
    std::size_t clearReceived();
    std::uint64_t dropped() const;
    // Until more than arrived bytes have come; false at the deadline or on cancel.
    bool waitForMore(std::uint64_t arrived, Clock::time_point deadline) const;
    // Until the deadline or a cancel; false on cancel.
    bool sleepUntil(Clock::time_point deadline) const;
    // The time the last byte arrived.
    Clock::time_point lastArrival() const;

    // Runs call on the owner's thread and waits for it; the text "stopped" on cancel (the
    // call may still run later, its result unseen).
    QString onOwner(std::function<QString(ScriptPort&)> call);
    // What the script shows the user (its log lines, its cases' results) waits here until the
    // owner takes it, so a script that logs in a loop cannot bury the owner's event loop. Whole:
    // the script waits while SaidLimit lines wait. Bounded: beyond SaidLimit the oldest lines
    // waiting are dropped and counted.
    enum class SaidMode { Whole, Bounded };
    static constexpr qsizetype SaidLimit = 250;
    struct Said
    {
        QString line;
        bool result = false; // a case's result, not a log line
    };
    void setSaidMode(SaidMode mode);
    // Script's thread: true for the first line since the owner's last take, for the owner to be
    // told.
    bool say(const Said& said);
    // Owner's thread: the lines waiting, and how many were dropped before them.
    QList<Said> takeSaid(std::uint64_t* dropped);
    std::optional<ModemStatus> modemOnOwner();
    // Runs a file transfer on the owner's thread and waits for its end; a cancel cancels it
    // and gives the reason "stopped".
    TransferResult transferOnOwner(const TransferRequest& request);

    // Any thread: ends every wait, now and later, until reset().
    void cancel();
    bool cancelled() const;
    void reset();

private:
    template <typename R> std::optional<R> callOnOwner(std::function<R(ScriptPort&)> call);

    QPointer<QObject> m_owner;
    ScriptPort* m_port;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QByteArray m_received;
    std::uint64_t m_arrived = 0;
    std::uint64_t m_dropped = 0;
    Clock::time_point m_lastArrival = Clock::now();
    bool m_cancelled = false;
    SaidMode m_saidMode = SaidMode::Whole;
    QList<Said> m_said;
    std::uint64_t m_saidDropped = 0;
};

} // namespace kirt
