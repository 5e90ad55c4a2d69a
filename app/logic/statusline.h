#pragma once

#include <QString>

#include <array>

namespace kirt {

// What the five status panels show, read from the controls by the window.
struct StatusLineState
{
    QString port;
    QString baudRate;
    QString dataBits;
    QString stopBits;
    QString parity;
    QString displayFormat;
    QString echo;
    bool newLineEnabled = false;
    int autoIntervalMs = 500;
    bool autoRunning = false;
    int autoLine = 0; // the line the auto cycle sends next, shown while it runs
};

std::array<QString, 5> ComposeStatusLine(const StatusLineState& state);

} // namespace kirt
