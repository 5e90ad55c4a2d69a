#include "app/core/memorystatus.h"

#include <QFile>
#include <QRegularExpression>

namespace kirt {

MemoryStatus ReadMemoryStatus()
{
    MemoryStatus status;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return status;
    std::uint64_t totalKb = 0;
    std::uint64_t availableKb = 0;
    bool haveAvailable = false;
    const QStringList lines = QString::fromLatin1(meminfo.readAll()).split(u'\n');
    for (const QString& line : lines) {
        const QStringList parts = line.simplified().split(u' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == QLatin1String("MemTotal:"))
            totalKb = parts[1].toULongLong();
        else if (parts[0] == QLatin1String("MemAvailable:")) {
            availableKb = parts[1].toULongLong();
            haveAvailable = true;
        }
    }
    status.totalBytes = totalKb * 1024;
    if (totalKb > 0 && haveAvailable && availableKb <= totalKb)
        status.loadPercent = static_cast<unsigned>((totalKb - availableKb) * 100 / totalKb);
    return status;
}

QString PhysicalMemoryText(std::uint64_t totalBytes, const QLocale& locale)
{
    const auto kb = static_cast<qulonglong>(totalBytes / 1024);
    // "#,###" shows nothing for zero.
    const QString digits = kb == 0 ? QString() : locale.toString(kb);
    return digits + QStringLiteral(" KB");
}

QString MemoryLoadText(unsigned loadPercent)
{
    return QString::number(loadPercent) + QStringLiteral(" %");
}

} // namespace kirt
