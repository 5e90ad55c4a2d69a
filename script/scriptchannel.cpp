#include "script/scriptchannel.h"

#include <QMetaObject>

#include <utility>

namespace kirt {

ScriptChannel::ScriptChannel(QObject* owner, ScriptPort* port) : m_owner(owner), m_port(port) {}

void ScriptChannel::feed(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return;
    {
        const std::lock_guard lock(m_mutex);
        const char* data = reinterpret_cast<const char*>(bytes);
        if (count >= ReceiveLimit) {
            m_dropped += static_cast<std::uint64_t>(m_received.size()) + (count - ReceiveLimit);
            m_received =
                QByteArray(data + (count - ReceiveLimit), static_cast<qsizetype>(ReceiveLimit));
        } else {
            const std::size_t over =
                static_cast<std::size_t>(m_received.size()) + count > ReceiveLimit
                    ? static_cast<std::size_t>(m_received.size()) + count - ReceiveLimit
                    : 0;
            if (over > 0) {
                m_received.remove(0, static_cast<qsizetype>(over));
                m_dropped += over;
            }
            m_received.append(data, static_cast<qsizetype>(count));
        }
        m_arrived += count;
        m_lastArrival = Clock::now();
    }
    m_changed.notify_all();
}

QByteArray ScriptChannel::peek(std::uint64_t* arrived) const
{
    const std::lock_guard lock(m_mutex);
    if (arrived)
        *arrived = m_arrived;
    return m_received;
}

void ScriptChannel::consume(std::uint64_t arrivedAtPeek, std::size_t peeked, std::size_t count)
{
    const std::lock_guard lock(m_mutex);
    // Counted in bytes since the start: the end of what is taken, and where the buffer starts
    // now (later than at the peek when older bytes were dropped meanwhile).
    const std::uint64_t end = arrivedAtPeek - peeked + count;
    const std::uint64_t head = m_arrived - static_cast<std::uint64_t>(m_received.size());
    if (end > head)
        m_received.remove(0, static_cast<qsizetype>(std::min<std::uint64_t>(
                                 end - head, static_cast<std::uint64_t>(m_received.size()))));
}

std::size_t ScriptChannel::clearReceived()
{
    const std::lock_guard lock(m_mutex);
    const auto count = static_cast<std::size_t>(m_received.size());
    m_received.clear();
    return count;
}

std::uint64_t ScriptChannel::dropped() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

bool ScriptChannel::waitForMore(std::uint64_t arrived, Clock::time_point deadline) const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_until(lock, deadline, [&] { return m_cancelled || m_arrived > arrived; });
    return !m_cancelled && m_arrived > arrived;
}

bool ScriptChannel::sleepUntil(Clock::time_point deadline) const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_until(lock, deadline, [&] { return m_cancelled; });
    return !m_cancelled;
}

ScriptChannel::Clock::time_point ScriptChannel::lastArrival() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastArrival;
}

void ScriptChannel::cancel()
{
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
}

bool ScriptChannel::cancelled() const
{
    const std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void ScriptChannel::reset()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled = false;
    m_received.clear();
    m_dropped = 0;
    m_said.clear();
    m_saidDropped = 0;
}

template <typename R>
std::optional<R> ScriptChannel::callOnOwner(std::function<R(ScriptPort&)> call)
{
    // The result lives in shared state: a call that runs after a cancel writes nowhere stale.
    struct State
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<R> result;
    };
    auto state = std::make_shared<State>();
    ScriptPort* port = m_port;
    QObject* owner = m_owner.data();
    if (!owner || !port)
        return std::nullopt;
    QMetaObject::invokeMethod(
        owner,
        [state, port, call = std::move(call)] {
            R value = call(*port);
            {
                const std::lock_guard lock(state->mutex);
                state->result = std::move(value);
            }
            state->done.notify_all();
        },
        Qt::QueuedConnection);
    // The owner never waits for this thread, so a plain wait cannot deadlock; a cancel ends it.
    std::unique_lock lock(state->mutex);
    while (!state->result) {
        state->done.wait_for(lock, std::chrono::milliseconds(10));
        if (cancelled())
            return std::nullopt;
    }
    return state->result;
}

QString ScriptChannel::onOwner(std::function<QString(ScriptPort&)> call)
{
    const std::optional<QString> result = callOnOwner<QString>(std::move(call));
    return result ? *result : QStringLiteral("stopped");
}

void ScriptChannel::setSaidMode(SaidMode mode)
{
    const std::lock_guard lock(m_mutex);
    m_saidMode = mode;
}

bool ScriptChannel::say(const Said& said)
{
    std::unique_lock lock(m_mutex);
    if (m_saidMode == SaidMode::Whole) {
        m_changed.wait(lock, [this] { return m_cancelled || m_said.size() < SaidLimit; });
        if (m_cancelled)
            return false;
    } else if (m_said.size() >= SaidLimit) {
        // The newest lines tell the most; what went before them is counted.
        m_said.removeFirst();
        ++m_saidDropped;
    }
    m_said.append(said);
    return m_said.size() == 1 && m_saidDropped == 0;
}

QList<ScriptChannel::Said> ScriptChannel::takeSaid(std::uint64_t* dropped)
{
    QList<Said> lines;
    {
        const std::lock_guard lock(m_mutex);
        lines.swap(m_said);
        *dropped = std::exchange(m_saidDropped, 0);
    }
    m_changed.notify_all();
    return lines;
}

std::optional<ModemStatus> ScriptChannel::modemOnOwner()
{
    const auto result =
        callOnOwner<std::optional<ModemStatus>>([](ScriptPort& port) { return port.modem(); });
    return result ? *result : std::nullopt;
}

} // namespace kirt
