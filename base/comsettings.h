#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace kirt {

enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };

// Linux has no 1.5 stop bits; the choice is there for the devices and servers that have.
enum class StopBits : std::uint8_t { One, OneAndHalf, Two };

enum class FlowControl : std::uint8_t {
    None,     // the device's own input flow setting stays as it was
    Hardware, // RTS/CTS
    Software  // XON/XOFF: DC1 and DC3 are taken out of the data
};

// Line settings chosen on the settings page; read when the port is opened.
struct ComSettings
{
    QString portName;
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = 8; // 4..8 as the box offers; 5..8 where the system has them
    StopBits stopBits = StopBits::One;
    Parity parity = Parity::None;
    std::uint32_t readTimeoutMs = 2;
    FlowControl flowControl = FlowControl::None;

    bool operator==(const ComSettings&) const = default;
};

// The port box offers "COM1" .. "COM30".
inline constexpr int FirstPort = 1;
inline constexpr int LastPort = 30;

// 1..30 for "COM1".."COM30", 0 for anything else (including the empty name).
int comPortNumber(const QString& portName);

inline constexpr std::array<std::uint32_t, 31> BaudRateTable{
    75,     135,     150,     300,     600,     1200,    1800,    2000,    2400,   3600,   4800,
    7200,   9600,    19200,   38400,   56000,   57600,   115200,  230400,  460800, 500000, 576000,
    921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// The baud box's last item stands for a rate the user types in, within these bounds.
inline constexpr int CustomBaudIndex = static_cast<int>(BaudRateTable.size());
inline constexpr std::uint32_t MinCustomBaud = 50;
inline constexpr std::uint32_t MaxCustomBaud = 12'000'000;

inline constexpr bool customBaudAllowed(std::int64_t rate)
{
    return rate >= MinCustomBaud && rate <= MaxCustomBaud;
}

inline constexpr std::array<std::uint32_t, 23> ReadTimeoutTable{
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 200, 300, 400, 500};

// The line settings as the settings file stores them: the box indices under these names. The
// window, a run without a window and the workbench convert through here alone.
namespace storedkey {
inline constexpr char SerialPort[] = "SerialPort";
inline constexpr char BaudRate[] = "BaudRate";
inline constexpr char DataBits[] = "DataBit";
inline constexpr char StopBits[] = "StopBit";
inline constexpr char Parity[] = "ParityBit";
inline constexpr char CustomBaudRate[] = "CustomBaudRate";
inline constexpr char FlowControl[] = "FlowControl";
} // namespace storedkey

// Each choice under the names each edge knows it by: the window's box (and so the status
// line), a script's open() option (none where a script may not ask for it) and the words of a
// message. The enums' values are the box indices, which the settings and workbench files store.
struct ChoiceName
{
    const char* box;
    const char* script;
    const char* words;
};

inline constexpr std::array<ChoiceName, 5> ParityNames{{{"NONE", "none", "no parity"},
                                                        {"ODD", "odd", "odd parity"},
                                                        {"EVEN", "even", "even parity"},
                                                        {"MARK", "mark", "mark parity"},
                                                        {"SPACE", "space", "space parity"}}};
inline constexpr std::array<ChoiceName, 3> StopBitsNames{
    {{"1", "1", "1 stop bit"}, {"1.5", nullptr, "1.5 stop bits"}, {"2", "2", "2 stop bits"}}};
inline constexpr std::array<ChoiceName, 3> FlowControlNames{
    {{"NONE", "none", "no flow control"},
     {"RTS/CTS", "rtscts", "RTS/CTS flow control"},
     {"XON/XOFF", "xonxoff", "XON/XOFF flow control"}}};

constexpr const auto& choiceNames(Parity)
{
    return ParityNames;
}
constexpr const auto& choiceNames(StopBits)
{
    return StopBitsNames;
}
constexpr const auto& choiceNames(FlowControl)
{
    return FlowControlNames;
}

template <typename Choice> constexpr int lastChoice()
{
    return static_cast<int>(choiceNames(Choice{}).size()) - 1;
}

// The ranges of the values (data bits 4..8; stop bits 0 one, 1 one and a half, 2 two; parity
// 0 none .. 4 space; flow control none, RTS/CTS, XON/XOFF).
inline constexpr int MinDataBits = 4;
inline constexpr int MaxDataBits = 8;
inline constexpr int LastStopBits = lastChoice<StopBits>();
inline constexpr int LastParity = lastChoice<Parity>();
inline constexpr int LastFlowControl = lastChoice<FlowControl>();

// A choice's names; nullptr for a value outside the table.
template <typename Choice> const ChoiceName* choiceName(Choice choice)
{
    const auto at = static_cast<std::size_t>(choice);
    return at < choiceNames(choice).size() ? &choiceNames(choice)[at] : nullptr;
}

// The message words of a choice, empty for a value outside the table.
template <typename Choice> QString choiceWords(Choice choice)
{
    const ChoiceName* name = choiceName(choice);
    return name ? QString::fromLatin1(name->words) : QString();
}

// A box's items, in index order.
template <typename Choice> QStringList choiceBoxItems()
{
    QStringList items;
    for (const ChoiceName& name : choiceNames(Choice{}))
        items << QString::fromLatin1(name.box);
    return items;
}
QStringList dataBitsBoxItems();

// A script's name of a choice; nothing for a name scripts do not have.
template <typename Choice> std::optional<Choice> choiceFromScriptName(const QString& name)
{
    const auto& names = choiceNames(Choice{});
    for (std::size_t at = 0; at < names.size(); ++at)
        if (names[at].script && name == QLatin1String(names[at].script))
            return static_cast<Choice>(at);
    return std::nullopt;
}

// The names a script may give, for its error: "none, rtscts or xonxoff".
QString inWords(const QStringList& names);
template <typename Choice> QString scriptChoices()
{
    QStringList names;
    for (const ChoiceName& name : choiceNames(Choice{}))
        if (name.script)
            names << QString::fromLatin1(name.script);
    return inWords(names);
}

// A box index (or stored value) to the setting; false for an index outside the box. The baud
// box's last index stands for `custom` when it is an allowed rate.
bool baudRateFromIndex(int index, std::uint32_t custom, std::uint32_t& rate);
bool dataBitsFromIndex(int index, std::uint8_t& bits);
template <typename Choice> bool choiceFromIndex(int index, Choice& choice)
{
    if (index < 0 || index > lastChoice<Choice>())
        return false;
    choice = static_cast<Choice>(index);
    return true;
}
inline bool stopBitsFromIndex(int index, StopBits& stopBits)
{
    return choiceFromIndex(index, stopBits);
}
inline bool parityFromIndex(int index, Parity& parity)
{
    return choiceFromIndex(index, parity);
}
inline bool flowControlFromIndex(int index, FlowControl& flow)
{
    return choiceFromIndex(index, flow);
}
// The setting to its box index; a rate outside the table is the custom item's.
int baudRateIndex(std::uint32_t rate);
inline int dataBitsIndex(std::uint8_t bits)
{
    return bits - MinDataBits;
}
template <typename Choice> int choiceIndex(Choice choice)
{
    return static_cast<int>(choice);
}
// "COMn" to the port box's index, -1 for a name not in the box.
inline int portIndex(const QString& portName)
{
    return comPortNumber(portName) - 1;
}

// Table lookup by a combo box index; an index outside the table (no selection) gives nothing.
template <typename T, std::size_t N>
bool tableEntry(const std::array<T, N>& table, int index, T& out)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N)
        return false;
    out = table[static_cast<std::size_t>(index)];
    return true;
}

} // namespace kirt
