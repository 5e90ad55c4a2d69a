#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace kirt {

// When a row of the log ends (ASC only; HEX always logs every byte on its own row).
enum class LogCondition { EveryByte = 0, Cr = 1, Lf = 2 };

// The layout of the real-time log, read from the settings at every logged byte.
struct LogLayout
{
    bool hex = true;
    LogCondition condition = LogCondition::EveryByte;
    bool timeLog = false;
};

// Rows of the log end in CR LF.
QString LogLineBreakText();

// Whether the entry for ch carries a time stamp, so the stamp is only made when it is written.
bool LogEntryNeedsTimeStamp(const LogLayout& layout, std::uint8_t ch);

// The log text for one received byte; stamp is used only where the layout writes one. A byte
// 0x00 logged as a character adds nothing, as in the display.
QString LogEntry(const LogLayout& layout, std::uint8_t ch, const QString& stamp);

// The locale's short date, one blank and hh:mm:ss. Fractions of a second are dropped, and a
// time that falls exactly on midnight leaves the date alone.
QString LogTimeStampText(const QDateTime& time, const QLocale& locale = QLocale());

} // namespace kirt
