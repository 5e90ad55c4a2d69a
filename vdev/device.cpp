#include "vdev/device.h"

#include <algorithm>

namespace kirt::vdev {

namespace {

// Modbus RTU's inter-frame gap at 9600 baud is about 4 ms; a terminal that writes a request
// byte by byte needs more slack than that.
constexpr Nanos ModbusSilence = std::chrono::milliseconds(20);

} // namespace

VirtualDevice::VirtualDevice(const DeviceConfig& config, Nanos start)
    : m_config(config), m_start(start),
      // A tenth of a second of credit: enough to ride over a late wake-up, not a flood.
      m_pacer(config.rate, std::max<std::int64_t>(config.rate / 10, 16)), m_random(config.seed)
{
    if (m_config.modbusAddress)
        m_modbus.emplace(*m_config.modbusAddress, ModbusSilence);
}

void VirtualDevice::connect(Nanos now)
{
    m_connected = true;
    m_pacer.restart(now);
}

void VirtualDevice::disconnect()
{
    m_connected = false;
    m_at.reset();
    if (m_modbus)
        m_modbus->reset();
}

QByteArray VirtualDevice::receive(QByteArrayView bytes, Nanos now)
{
    QByteArray out;
    if (m_config.echo)
        out += bytes;
    if (m_config.at)
        out += m_at.receive(bytes);
    if (m_modbus)
        out += m_modbus->receive(bytes, now);
    return out;
}

DeviceOutput VirtualDevice::tick(Nanos now, qsizetype streamRoom)
{
    DeviceOutput out;
    if (m_config.statusPeriod && now >= m_start) {
        // Only the latest line when several periods passed at once (the machine slept).
        const auto period =
            static_cast<std::uint64_t>(std::max<std::int64_t>(m_config.statusPeriod->count(), 1));
        const std::uint64_t due = static_cast<std::uint64_t>((now - m_start).count()) / period;
        if (due >= m_nextStatus) {
            if (m_connected)
                out.data += statusLine(due, Nanos(static_cast<std::int64_t>(due * period)));
            m_nextStatus = due + 1;
        }
    }
    if (m_modbus)
        out.data += m_modbus->poll(now);
    if (m_connected && m_config.stream != StreamKind::None) {
        const std::int64_t count = std::min<std::int64_t>(m_pacer.available(now), streamRoom);
        if (count > 0) {
            out.stream = nextStreamBytes(static_cast<qsizetype>(count));
            m_pacer.spend(count);
        }
    }
    return out;
}

Nanos VirtualDevice::nextWake(Nanos now, bool streamMaySend) const
{
    // With nothing to do, look again in a second.
    Nanos wake = now + std::chrono::seconds(1);
    if (m_config.statusPeriod)
        wake = std::min(wake,
                        m_start + *m_config.statusPeriod * static_cast<std::int64_t>(m_nextStatus));
    if (m_modbus)
        if (const std::optional<Nanos> deadline = m_modbus->deadline())
            wake = std::min(wake, *deadline);
    if (streamMaySend && m_connected && m_config.stream != StreamKind::None)
        wake = std::min(wake, m_pacer.whenAvailable(streamChunk(), now));
    return std::max(wake, now);
}

QByteArray VirtualDevice::nextStreamBytes(qsizetype count)
{
    switch (m_config.stream) {
    case StreamKind::Text:
        return m_text.next(count);
    case StreamKind::Plot:
        return m_plot.next(count);
    case StreamKind::Random:
    case StreamKind::None:
        break;
    }
    return m_random.next(count);
}

qsizetype VirtualDevice::streamChunk() const
{
    // About a hundred writes a second at high rates, one byte at a time at low ones.
    return static_cast<qsizetype>(std::max<std::int64_t>(m_pacer.rate() / 100, 1));
}

void OutputQueue::append(const QByteArray& bytes, bool stream)
{
    if (bytes.isEmpty())
        return;
    if (m_data.size() + bytes.size() > MaxQueued) {
        m_dropped += bytes.size();
        return;
    }
    m_data += bytes;
    if (!m_segments.isEmpty() && m_segments.back().stream == stream)
        m_segments.back().size += bytes.size();
    else
        m_segments.append({bytes.size(), stream});
}

void OutputQueue::clear()
{
    m_data.clear();
    m_segments.clear();
}

void OutputQueue::consumed(qsizetype count)
{
    count = std::min(count, m_data.size());
    m_data.remove(0, count);
    m_sent += count;
    while (count > 0 && !m_segments.isEmpty()) {
        Segment& front = m_segments.front();
        const qsizetype part = std::min(count, front.size);
        if (front.stream)
            m_streamed += part;
        front.size -= part;
        count -= part;
        if (front.size == 0)
            m_segments.removeFirst();
    }
}

} // namespace kirt::vdev
