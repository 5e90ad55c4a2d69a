#include "base/comsettings.h"

#include "base/commandlinecommon.h"

#include <algorithm>

namespace kirt {

int comPortNumber(const QString& portName)
{
    if (!portName.startsWith(QLatin1String("COM")))
        return 0;
    const QString digits = portName.mid(3);
    // No sign, blank or leading zero: the list offers exactly "COM1".."COM30".
    if (digits.isEmpty() || digits.size() > 2 || digits.front() == QLatin1Char('0'))
        return 0;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    const int number = digits.toInt();
    return number >= FirstPort && number <= LastPort ? number : 0;
}

bool baudRateFromIndex(int index, std::uint32_t custom, std::uint32_t& rate)
{
    if (index == CustomBaudIndex) {
        if (!customBaudAllowed(custom))
            return false;
        rate = custom;
        return true;
    }
    return tableEntry(BaudRateTable, index, rate);
}

int baudRateIndex(std::uint32_t rate)
{
    const auto* known = std::find(BaudRateTable.begin(), BaudRateTable.end(), rate);
    return known == BaudRateTable.end() ? CustomBaudIndex
                                        : static_cast<int>(known - BaudRateTable.begin());
}

namespace {

template <typename T> bool inRange(int index, int last, int offset, T& out)
{
    if (index < 0 || index > last)
        return false;
    out = static_cast<T>(index + offset);
    return true;
}

} // namespace

bool dataBitsFromIndex(int index, std::uint8_t& bits)
{
    return inRange(index, MaxDataBits - MinDataBits, MinDataBits, bits);
}

bool stopBitsFromIndex(int index, std::uint8_t& stopBits)
{
    return inRange(index, LastStopBits, 0, stopBits);
}

bool parityFromIndex(int index, std::uint8_t& parity)
{
    return inRange(index, LastParity, 0, parity);
}

bool flowControlFromIndex(int index, FlowControl& flow)
{
    std::uint8_t value = 0;
    if (!inRange(index, LastFlowControl, 0, value))
        return false;
    flow = static_cast<FlowControl>(value);
    return true;
}

QString portArgument(const QString& value, QString& refusal)
{
    const QString port = value.toUpper();
    if (comPortNumber(port) != 0)
        return port;
    refusal = QStringLiteral("--port takes COM1..COM30, not '%1'").arg(value);
    return {};
}

} // namespace kirt
