#include "display/logformat.h"

#include "display/bytetext.h"

namespace kirt {

namespace {

constexpr std::uint8_t Cr = 0x0D;
constexpr std::uint8_t Lf = 0x0A;

} // namespace

QString LogLineBreakText()
{
    return QStringLiteral("\r\n");
}

bool LogEntryNeedsTimeStamp(const LogLayout& layout, std::uint8_t ch)
{
    if (!layout.timeLog)
        return false;
    if (layout.condition == LogCondition::EveryByte)
        return true;
    return !layout.hex && (ch == Cr || ch == Lf);
}

QString LogEntry(const LogLayout& layout, std::uint8_t ch, const QString& stamp)
{
    QString text;
    if (layout.hex) {
        text = ByteText(DataFormat::Hex, ch);
        if (layout.condition == LogCondition::EveryByte) {
            if (layout.timeLog)
                text += QStringLiteral("  ") + stamp;
            text += LogLineBreakText();
        }
        return text;
    }
    if (layout.condition == LogCondition::EveryByte) {
        text = ByteText(DataFormat::Asc, ch);
        if (layout.timeLog)
            text += QStringLiteral("   ") + stamp;
        return text + LogLineBreakText();
    }
    // Rows follow the data: CR and LF alike.
    if (layout.timeLog && (ch == Cr || ch == Lf))
        return QStringLiteral("   ") + stamp + QChar(ch);
    text = ByteText(DataFormat::Asc, ch);
    if (ch == Lf)
        text += LogLineBreakText();
    return text;
}

QString LogTimeStampText(const QDateTime& time, const QLocale& locale)
{
    const QString date = locale.toString(time.date(), QLocale::ShortFormat);
    const QTime t = time.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return date;
    return date + u' ' + t.toString(QStringLiteral("hh:mm:ss"));
}

} // namespace kirt
