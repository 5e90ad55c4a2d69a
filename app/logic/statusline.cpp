#include "app/logic/statusline.h"

namespace kirt {

std::array<QString, 5> ComposeStatusLine(const StatusLineState& s)
{
    const QString sep = QStringLiteral(", ");
    std::array<QString, 5> panels;
    panels[0] = QStringLiteral("PORT : ") + s.port + sep + s.baudRate + sep + s.dataBits + sep +
                s.stopBits + sep + s.parity;
    panels[1] = QStringLiteral("Display Format : ") + s.displayFormat;
    panels[2] = QStringLiteral("New Line Char : ") +
                (s.newLineEnabled ? QStringLiteral("ON") : QStringLiteral("OFF"));
    panels[3] = QStringLiteral("Echo : ") + s.echo;
    panels[4] = QStringLiteral("Auto Interval : ") + QString::number(s.autoIntervalMs) +
                QStringLiteral("ms ") +
                (s.autoRunning
                     ? QStringLiteral("Group [") + QString::number(s.autoLine) + QStringLiteral("]")
                     : QStringLiteral("STOP"));
    return panels;
}

} // namespace kirt
