#pragma once

#include "serial/serialport.h"

#include <QElapsedTimer>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <thread>

namespace kirt::test {

// A port with modem lines, for what a pseudo-terminal cannot show: it records every line and
// break change in `events` ("apply", "DTR on", "break off", ...) and reports `lines` as its
// modem status. Bytes never arrive; reads wait out the time-out as a quiet line does.
class FakePort final : public kirt::SerialPort
{
public:
    FakePort() { clock.start(); }

    kirt::SerialStatus open(const QString&) override
    {
        m_open = true;
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
    int readChunkWithin(std::uint8_t*, std::size_t, std::uint32_t waitMs) override
    {
        if (!m_open)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return m_open ? 0 : -1;
    }
    std::size_t writeBytes(const std::uint8_t*, std::size_t count) override
    {
        return m_open ? count : 0;
    }
    void purge() override {}
    void close() override
    {
        if (m_open)
            events << QStringLiteral("close");
        m_open = false;
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

    QStringList events;
    bool dtr = false;
    bool rts = false;
    kirt::ModemStatus lines{true};
    QElapsedTimer clock;
    qint64 breakStartedMs = -1;
    qint64 breakEndedMs = -1;

private:
    std::atomic<bool> m_open{false};
    std::atomic<std::uint32_t> m_readTimeoutMs{2};
};

} // namespace kirt::test
