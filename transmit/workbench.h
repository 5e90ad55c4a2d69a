#pragma once

#include "base/benchcounts.h"
#include "base/codec.h"
#include "base/comsettings.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace kirt {

// What a user builds up on the boards and keeps between sessions: the nine transmit lines,
// the four protocol rules and the auto-transmit interval, and, when it was saved with them,
// the port and its line settings.
struct Workbench
{
    static constexpr int Version = 1;
    static constexpr int Lines = TransmitLineCount;
    static constexpr int Rules = ProtocolRuleCount;

    struct Line
    {
        QString text;
        DataFormat format = DataFormat::Hex;
        bool autoSend = false;
        bool crlf = false;

        bool operator==(const Line&) const = default;
    };
    struct Rule
    {
        QString receivePacket;
        QString response;
        DataFormat format = DataFormat::Hex;
        bool enabled = false;

        bool operator==(const Rule&) const = default;
    };

    // The port box's choice and the line settings beside it; DTR and RTS as switched.
    struct Port
    {
        QString name = QStringLiteral("COM1");
        std::uint32_t baudRate = 9600; // a rate of the list, or a custom rate
        std::uint8_t dataBits = 8;
        StopBits stopBits = StopBits::One;
        Parity parity = Parity::None;
        FlowControl flowControl = FlowControl::None;
        bool dtr = false;
        bool rts = false;

        bool operator==(const Port&) const = default;
    };

    // How the plot shows its series; the collected points are not kept.
    struct Plot
    {
        QStringList hidden; // series switched off in the legend, by name
        bool xTime = false; // x as receive time, not sample number
        int window = 1;     // index of 100, 1000, 10000, All
        bool yFixed = false;
        double yMin = -1;
        double yMax = 1;

        bool operator==(const Plot&) const = default;
    };

    std::array<Line, Lines> lines{};
    std::array<Rule, Rules> rules{};
    int autoIntervalPosition = 0; // the slider's position, an index into AutoIntervalTable
    // Files without a port section (all written before it existed) leave the port alone.
    std::optional<Port> port;
    // Files written before the plot existed leave its settings alone.
    std::optional<Plot> plot;

    bool operator==(const Workbench&) const = default;
};

struct WorkbenchRead
{
    std::optional<Workbench> workbench; // empty when the file is refused
    QString reason;                     // why it was refused
};

// Reads a workbench file. Any fault refuses the whole file: a half-applied workbench would
// leave lines and rules that belong to no file.
WorkbenchRead readWorkbench(const QString& path);

// Writes the workbench to path; false with a reason when the file could not be written.
bool writeWorkbench(const QString& path, const Workbench& workbench, QString* reason = nullptr);

} // namespace kirt
