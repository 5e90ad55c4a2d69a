#include "app/logic/memorystatus.h"

#include <QFile>

namespace kirt {

MemoryStatus ReadMemoryStatus()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return {};
    return ParseMemInfo(meminfo.readAll());
}

MemoryStatus ParseMemInfo(const QByteArray& meminfo)
{
    std::uint64_t totalKb = 0;
    std::uint64_t availableKb = 0;
    bool haveAvailable = false;
    // Kernels before 3.14 have no MemAvailable; free memory plus the caches is the estimate.
    std::uint64_t reclaimableKb = 0;
    for (const QByteArray& line : meminfo.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        bool ok = false;
        const std::uint64_t kb = parts[1].toULongLong(&ok);
        if (!ok)
            continue;
        const QByteArray& name = parts[0];
        if (name == "MemTotal:") {
            totalKb = kb;
        } else if (name == "MemAvailable:") {
            availableKb = kb;
            haveAvailable = true;
        } else if (name == "MemFree:" || name == "Buffers:" || name == "Cached:") {
            reclaimableKb += kb;
        }
    }
    if (!haveAvailable)
        availableKb = reclaimableKb;
    MemoryStatus status;
    status.totalBytes = totalKb * 1024;
    if (totalKb > 0 && availableKb <= totalKb)
        status.loadPercent = static_cast<unsigned>((totalKb - availableKb) * 100 / totalKb);
    return status;
}

QString PhysicalMemoryText(std::uint64_t totalBytes, const QLocale& locale)
{
    const auto kb = static_cast<qulonglong>(totalBytes / 1024);
    // The figure is always grouped, with whatever separator the locale uses (the C locale
    // would otherwise leave the groups out).
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    // "#,###" shows nothing for zero.
    const QString digits = kb == 0 ? QString() : grouped.toString(kb);
    return digits + QStringLiteral(" KB");
}

QString MemoryLoadText(unsigned loadPercent)
{
    return QString::number(loadPercent) + QStringLiteral(" %");
}

} // namespace kirt
