#pragma once

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
};

// The outcome of a command line: options to run with, or a text to print and an exit code
// (help and version on standard output with 0, a mistake on standard error with 2).
struct ParsedOptions
{
    std::optional<Options> options;
    QString text;
    int exitCode = 0;
};

// arguments[0] is the program's name.
ParsedOptions parseOptions(const QStringList& arguments);

QString helpText();

// "echo, AT, status every 1000 ms", for the line that says what the device serves.
QString describeBehaviour(const DeviceConfig& config);

} // namespace kirt::vdev
