#include "display/rowstamp.h"

#include <QDateTime>

namespace kirt {

namespace {

void appendDigits(QString& text, std::int64_t value, int width)
{
    char16_t digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value > 0 || n < width);
    while (n > 0)
        text += QChar(digits[--n]);
}

} // namespace

void RowStamps::setMode(TimeStampMode mode)
{
    if (mode != m_mode)
        m_havePrevious = false;
    m_mode = mode;
}

void RowStamps::append(QString& text, SystemTime system, SteadyTime steady)
{
    if (m_mode == TimeStampMode::Time) {
        appendTime(text, system);
        return;
    }
    if (m_mode != TimeStampMode::Delta)
        return;
    using namespace std::chrono;
    const std::int64_t ms =
        m_havePrevious
            ? std::max<std::int64_t>(duration_cast<milliseconds>(steady - m_previous).count(), 0)
            : 0;
    m_previous = steady;
    m_havePrevious = true;
    text += u"[+";
    appendDigits(text, ms / 1000, 1);
    text += u'.';
    appendDigits(text, ms % 1000, 3);
    text += u"] ";
}

void RowStamps::appendTime(QString& text, SystemTime system)
{
    using namespace std::chrono;
    const std::int64_t ms = duration_cast<milliseconds>(system.time_since_epoch()).count();
    // Floor, so a time before 1970 still falls into the right second.
    const std::int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    // Time zone changes fall on whole seconds: the words of a second hold for all of it.
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        m_cachedClock =
            u'[' +
            QDateTime::fromSecsSinceEpoch(second).time().toString(QStringLiteral("hh:mm:ss")) +
            u'.';
    }
    text += m_cachedClock;
    appendDigits(text, ms - second * 1000, 3);
    text += u"] ";
}

} // namespace kirt
