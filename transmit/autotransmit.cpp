#include "transmit/autotransmit.h"

#include <algorithm>

namespace kirt {

int autoIntervalMs(int sliderPosition)
{
    const int last = static_cast<int>(AutoIntervalTable.size()) - 1;
    return AutoIntervalTable[static_cast<std::size_t>(std::clamp(sliderPosition, 0, last))];
}

QString autoTimeCaption(int sliderPosition)
{
    return QString::number(autoIntervalMs(sliderPosition)) + QStringLiteral("ms");
}

void AutoTransmitCycle::rebuild(const std::array<bool, LineCount>& autoOn)
{
    m_count = 0;
    for (std::size_t i = 0; i < autoOn.size(); ++i) {
        if (autoOn[i])
            m_lines[m_count++] = static_cast<int>(i) + 1;
    }
}

bool AutoTransmitCycle::tick(const std::function<void(int line)>& send)
{
    if (m_count == 0)
        return false;
    if (m_position >= m_count)
        m_position = 0;
    send(m_lines[m_position]);
    ++m_position;
    return true;
}

std::optional<int> AutoTransmitCycle::currentLine() const
{
    if (m_count == 0)
        return std::nullopt;
    return m_lines[m_position < m_count ? m_position : 0];
}

} // namespace kirt
