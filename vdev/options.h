#pragma once

#include "base/commandlinecommon.h"
#include "vdev/device.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kirt::vdev {

struct Options
{
    QString port = QStringLiteral("COM1");
    bool force = false;
    DeviceConfig device;
    // Plays a cable pulled out after this long, and plugged in again (a new pseudo-terminal
    // under the same port) after replugAfter; the two then take turns.
    std::optional<Nanos> unplugAfter;
    std::optional<Nanos> replugAfter;
    // A board's console: a shell (this command run by /bin/sh -c, or the user's interactive
    // shell when empty) on a terminal of its own, its bytes relayed to and from the port.
    bool shell = false;
    QString shellCommand;
};

using ParsedOptions = ParsedArguments<Options>;

// arguments[0] is the program's name.
ParsedOptions parseOptions(const QStringList& arguments);

QString helpText();

// "echo, AT, status every 1000 ms", for the line that says what the device serves.
QString describeBehaviour(const DeviceConfig& config);

} // namespace kirt::vdev
