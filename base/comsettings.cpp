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

QStringList dataBitsBoxItems()
{
    QStringList items;
    for (int bits = MinDataBits; bits <= MaxDataBits; ++bits)
        items << QString::number(bits);
    return items;
}

QString inWords(const QStringList& names)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") +
           names.back();
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
