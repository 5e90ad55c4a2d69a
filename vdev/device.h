#pragma once

#include "vdev/atresponder.h"
#include "vdev/modbus.h"
#include "vdev/pacer.h"
#include "vdev/streams.h"
#include "vdev/timing.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace kirt::vdev {

enum class StreamKind { None, Text, Random, Plot };

// Which behaviours the device plays; any combination.
struct DeviceConfig
{
    bool echo = false;
    bool at = false;
    std::optional<Nanos> statusPeriod;
    std::optional<std::uint8_t> modbusAddress;
    StreamKind stream = StreamKind::None;
    std::int64_t rate = 960; // stream bytes per second
    std::uint64_t seed = 1;  // of the random stream
};

struct DeviceOutput
{
    QByteArray data;   // answers and status lines
    QByteArray stream; // bytes of the paced stream, counted apart
};

// The device's behaviour without any input or output of its own: the caller says what was
// received and when, and writes what comes back. It talks only while the port is open on the
// other side, as a real device's bytes would be lost with nobody listening.
class VirtualDevice
{
public:
    VirtualDevice(const DeviceConfig& config, Nanos start);

    // The program opened the port / closed it.
    void connect(Nanos now);
    void disconnect();
    bool isConnected() const { return m_connected; }

    // The answers to received bytes: the echo first, then AT and Modbus answers.
    QByteArray receive(QByteArrayView bytes, Nanos now);
    // Output due at `now` by itself: status lines, answers to frames that silence ended, and
    // up to streamRoom bytes of the stream.
    DeviceOutput tick(Nanos now, qsizetype streamRoom);
    // When tick() next has something to do (never before now); the stream counts only when
    // it may send.
    Nanos nextWake(Nanos now, bool streamMaySend = true) const;

    const DeviceConfig& config() const { return m_config; }

private:
    QByteArray nextStreamBytes(qsizetype count);
    qsizetype streamChunk() const;

    DeviceConfig m_config;
    Nanos m_start;
    bool m_connected = false;
    std::uint64_t m_nextStatus = 1;
    AtResponder m_at;
    std::optional<ModbusSlave> m_modbus;
    Pacer m_pacer;
    TextStream m_text;
    PlotStream m_plot;
    RandomStream m_random;
};

// Bytes waiting for the port, with a count of what went out and how much of it was stream.
class OutputQueue
{
public:
    void append(const QByteArray& bytes, bool stream = false);
    // Hands queued bytes to `write` (which returns how many it took, or a negative value for
    // none) until it takes less than offered; returns how many went out.
    template <typename Writer> qsizetype flush(Writer&& write);
    // The port closed: what it did not take is lost.
    void clear();

    bool isEmpty() const { return m_data.isEmpty(); }
    qsizetype size() const { return m_data.size(); }
    std::int64_t sent() const { return m_sent; }
    std::int64_t streamed() const { return m_streamed; }
    std::int64_t dropped() const { return m_dropped; }

    // A reader that stops reading must not make the device grow without bound.
    static constexpr qsizetype MaxQueued = 1 << 20;

private:
    void consumed(qsizetype count);

    struct Segment
    {
        qsizetype size;
        bool stream;
    };
    QByteArray m_data;
    QList<Segment> m_segments;
    std::int64_t m_sent = 0;
    std::int64_t m_streamed = 0;
    std::int64_t m_dropped = 0;
};

template <typename Writer> qsizetype OutputQueue::flush(Writer&& write)
{
    qsizetype total = 0;
    while (!m_data.isEmpty()) {
        const qsizetype taken = write(m_data.constData(), m_data.size());
        if (taken <= 0)
            break;
        consumed(taken);
        total += taken;
    }
    return total;
}

} // namespace kirt::vdev
