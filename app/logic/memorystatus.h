#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace kirt {

struct MemoryStatus
{
    std::uint64_t totalBytes = 0;
    unsigned loadPercent = 0; // share of physical memory in use, 0..100
};

// Reads the machine's memory statistics; zeros when they cannot be read.
MemoryStatus ReadMemoryStatus();
// The figures from the text of /proc/meminfo.
MemoryStatus ParseMemInfo(const QByteArray& meminfo);

// "2,097,152 KB" with the locale's thousands separator.
QString PhysicalMemoryText(std::uint64_t totalBytes, const QLocale& locale = QLocale());
// "37 %"
QString MemoryLoadText(unsigned loadPercent);

} // namespace kirt
