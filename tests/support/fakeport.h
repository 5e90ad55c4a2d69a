#pragma once

#include "serial/serialport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>

namespace kirt::test {

// A port with modem lines, for what a pseudo-terminal cannot show: it records every line and
// break change in `events` ("apply", "DTR on", "break off", ...) and reports `lines` as its
// modem status. The test plays the device: feed() delivers bytes to the reader, written()
// returns what the program wrote, writeRoom limits how much more the device takes, unplug()
// makes the device go away. Reads wait as a quiet line does; purge and close wake them.
class FakePort final : public kirt::SerialPort
{
public:
    FakePort() { clock.start(); }

    kirt::SerialStatus open(const QString&) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_open = true;
            m_lost = false;
            m_incoming.clear();
        }
        events << QStringLiteral("open");
        return {};
    }
    kirt::SerialStatus readState() override { return {}; }
    kirt::SerialStatus applyState(const kirt::ComSettings& settings) override
    {
        m_readTimeoutMs = settings.readTimeoutMs;
        // As the real port does: the line state leaves both lines cleared.
        dtr = false;
        rts = false;
        events << QStringLiteral("apply");
        return {};
    }
    int readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs) override
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [&] { return !m_incoming.isEmpty() || !m_open || m_lost || m_wake; });
        if (!m_open || m_lost)
            return -1;
        if (m_wake) {
            m_wake = false;
            return 0;
        }
        const auto count =
            std::min<std::size_t>(capacity, static_cast<std::size_t>(m_incoming.size()));
        std::memcpy(buffer, m_incoming.constData(), count);
        m_incoming.remove(0, static_cast<qsizetype>(count));
        return static_cast<int>(count);
    }
    std::size_t writeBytes(const std::uint8_t* bytes, std::size_t count) override
    {
        const std::lock_guard lock(m_mutex);
        if (!m_open || m_lost)
            return 0;
        const std::size_t taken = std::min(count, writeRoom);
        writeRoom -= taken;
        m_written.append(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(taken));
        return taken;
    }
    std::size_t writeAvailable(const std::uint8_t* bytes, std::size_t count) override
    {
        return writeBytes(bytes, count);
    }
    void purge() override
    {
        const std::lock_guard lock(m_mutex);
        m_incoming.clear();
        m_wake = true;
        m_cv.notify_all();
    }
    void close() override
    {
        bool was = false;
        {
            const std::lock_guard lock(m_mutex);
            was = m_open;
            m_open = false;
            m_cv.notify_all();
        }
        if (was)
            events << QStringLiteral("close");
    }
    bool isOpen() const override { return m_open; }
    std::uint32_t readTimeoutMs() const override { return m_readTimeoutMs; }

    kirt::SerialStatus setModemLine(kirt::ModemLine line, bool on) override
    {
        const bool dtrLine = line == kirt::ModemLine::Dtr;
        (dtrLine ? dtr : rts) = on;
        events << QStringLiteral("%1 %2").arg(dtrLine ? "DTR" : "RTS", on ? "on" : "off");
        return {};
    }
    kirt::SerialStatus setBreak(bool on) override
    {
        events << (on ? QStringLiteral("break on") : QStringLiteral("break off"));
        (on ? breakStartedMs : breakEndedMs) = clock.elapsed();
        return {};
    }
    kirt::ModemStatus modemStatus() override { return m_open ? lines : kirt::ModemStatus{}; }
    bool deviceLost() const override { return m_lost; }

    // The device's side.
    void feed(const QByteArray& bytes)
    {
        const std::lock_guard lock(m_mutex);
        m_incoming += bytes;
        m_cv.notify_all();
    }
    QByteArray written() const
    {
        const std::lock_guard lock(m_mutex);
        return m_written;
    }
    void unplug()
    {
        const std::lock_guard lock(m_mutex);
        m_lost = true;
        m_cv.notify_all();
    }

    QStringList events;
    bool dtr = false;
    bool rts = false;
    kirt::ModemStatus lines{true};
    QElapsedTimer clock;
    qint64 breakStartedMs = -1;
    qint64 breakEndedMs = -1;
    // Bytes the device still takes; a write beyond them is partial.
    std::size_t writeRoom = std::numeric_limits<std::size_t>::max();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    QByteArray m_incoming;
    QByteArray m_written;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_lost{false};
    bool m_wake = false;
    std::atomic<std::uint32_t> m_readTimeoutMs{2};
};

} // namespace kirt::test
