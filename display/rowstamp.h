#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

namespace kirt {

// What a display line begins with.
enum class TimeStampMode { Off = 0, Time = 1, Delta = 2 };

// The stamps that begin display lines: "[hh:mm:ss.zzz] " (local time of day) or "[+s.zzz] "
// (time since the previous stamp). A stream of short lines makes tens of thousands a second,
// so the time of day is put into words once per second.
class RowStamps
{
public:
    using SystemTime = std::chrono::system_clock::time_point;
    using SteadyTime = std::chrono::steady_clock::time_point;

    void setMode(TimeStampMode mode);
    TimeStampMode mode() const { return m_mode; }
    // The next DELTA stamp is "[+0.000] ".
    void restart() { m_havePrevious = false; }

    // Appends the stamp of a line whose first byte came at this time; DELTA measures on the
    // steady clock, so a change of the system clock does not show as a gap.
    void append(QString& text, SystemTime system, SteadyTime steady);

private:
    void appendTime(QString& text, SystemTime system);

    TimeStampMode m_mode = TimeStampMode::Off;
    bool m_havePrevious = false;
    SteadyTime m_previous{};
    std::int64_t m_cachedSecond = INT64_MIN;
    QString m_cachedClock; // "[hh:mm:ss."
};

} // namespace kirt
