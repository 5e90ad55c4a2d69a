#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace kirt {

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
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
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

// The ranges of the values (data bits 4..8; stop bits 0 one, 1 one and a half, 2 two; parity
// 0 none .. 4 space; flow control none, RTS/CTS, XON/XOFF).
inline constexpr int MinDataBits = 4;
inline constexpr int MaxDataBits = 8;
inline constexpr int LastStopBits = 2;
inline constexpr int LastParity = 4;
inline constexpr int LastFlowControl = static_cast<int>(FlowControl::Software);

// A box index (or stored value) to the setting; false for an index outside the box. The baud
// box's last index stands for `custom` when it is an allowed rate.
bool baudRateFromIndex(int index, std::uint32_t custom, std::uint32_t& rate);
bool dataBitsFromIndex(int index, std::uint8_t& bits);
bool stopBitsFromIndex(int index, std::uint8_t& stopBits);
bool parityFromIndex(int index, std::uint8_t& parity);
bool flowControlFromIndex(int index, FlowControl& flow);
// The setting to its box index; a rate outside the table is the custom item's.
int baudRateIndex(std::uint32_t rate);
inline int dataBitsIndex(std::uint8_t bits)
{
    return bits - MinDataBits;
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
