#include "display/traffic.h"

namespace kirt {

QString TrafficCaption(std::uint32_t written, std::uint32_t backlog)
{
    std::uint32_t percent = 0;
    if (backlog > 9 && written > 0)
        percent = static_cast<std::uint32_t>(static_cast<double>(backlog) * 100.0 /
                                             static_cast<double>(written));
    return QStringLiteral(" Display Traffic : %1%").arg(percent);
}

} // namespace kirt
