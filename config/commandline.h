#pragma once

#include "base/commandlinecommon.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace kirt {

// What the command line asks of a start.
struct StartOptions
{
    QString port;                 // "COMn", empty to keep the stored choice
    QString device;               // a device path mapped to the port for this run, empty for none
    int baudIndex = -1;           // an index into BaudRateTable, -1 to keep the stored choice
    std::uint32_t customBaud = 0; // a rate not in the table, for the "Custom" item; 0 for none
    bool open = false;
    QString workbench; // a workbench file to open, empty for none
    QString profile;   // the profile whose settings this run keeps, empty for the default
    // A script run without a window: the file, where its results go, the run's time limit.
    QString script;
    QString junit;
    int timeoutSeconds = 0; // 0: none
};

using ParsedCommandLine = ParsedArguments<StartOptions>;

// arguments[0] is the program's name.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString commandLineUsage();

// The port a --device path is mapped to: the chosen one, else COM1.
QString devicePort(const StartOptions& options);

// Maps that port to the --device path for this process, as KIRT_COMn does; nothing without one.
void mapDeviceForThisRun(const StartOptions& options);

} // namespace kirt
