#include "base/comsettings.h"

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

} // namespace kirt
