#pragma once

#include "base/codec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace kirt {

// The check buttons' kinds; the number is the button's own (buttons 3 and 4 have no kind).
enum class CheckKind : int { Xor = 1, Add = 2, Crc16 = 5, Modbus = 6, XModem = 7, Hdlc = 8 };

// A kind by button number; 3, 4 and anything else out of 1..8 give nothing.
std::optional<CheckKind> checkKindFromButton(int button);

using CrcTable = std::array<std::uint32_t, 256>;

namespace detail {

// Entry i is i shifted right eight times, XOR poly after each shift that drops a 1 bit.
constexpr CrcTable makeReflectedCrcTable(std::uint32_t poly)
{
    CrcTable table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1U) ? (value >> 1) ^ poly : value >> 1;
        table[i] = value;
    }
    return table;
}

// Entry i is i * 256 shifted left eight times within 16 bits, XOR poly when bit 15 drops out.
constexpr CrcTable makeMsbFirstCrcTable(std::uint32_t poly)
{
    CrcTable table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            value = ((value & 0x8000U) ? (value << 1) ^ poly : value << 1) & 0xFFFFU;
        table[i] = value;
    }
    return table;
}

} // namespace detail

// CRC-16 (polynomial 8005h, reflected), used by kinds 5 and 6.
inline constexpr CrcTable CrcTableA = detail::makeReflectedCrcTable(0xA001U);
// CRC-CCITT (polynomial 1021h, MSB first), used by kind 7.
inline constexpr CrcTable CrcTableB = detail::makeMsbFirstCrcTable(0x1021U);
// CRC-CCITT (polynomial 1021h, reflected), used by kind 8.
inline constexpr CrcTable CrcTableC = detail::makeReflectedCrcTable(0x8408U);

// The bytes a selection stands for: ASC the characters' own bytes; HEX digit pairs counted
// from the first selected character, an odd last character ignored.
QByteArray checksumData(const QString& selection, DataFormat format);

// The check of a kind over the data as it would be shown, before any substitution. XOR fills
// the low byte only; ADD is the 32-bit sum cut to 16 bits.
std::uint16_t computeCheck(CheckKind kind, QByteArrayView data);

// Kinds 5 and 6 show a result byte 02h as 22h and 03h as 23h, each byte on its own, so that
// a check typed into a packet never contains a frame control byte.
std::uint16_t substituteControlBytes(std::uint16_t crc);

// "<count> BYTE"
QString lengthCaption(qsizetype count);

// Result digits high byte first and "H"; XOR shows two digits, every other kind four.
QString checkCaption(CheckKind kind, std::uint16_t value);

struct ChecksumCaptions
{
    QString length;   // for LengthDisplay
    QString checksum; // for CheckSumDisplay
    CheckKind kind = CheckKind::Xor;
    std::uint16_t value = 0; // the shown result
};

// A shown result's bytes in the order they go on the wire: Modbus low byte first, the other
// 16-bit kinds (ADD as its two shown bytes) high byte first, XOR its one byte.
QByteArray checkWireBytes(CheckKind kind, std::uint16_t value);

// The text that puts those bytes at the end of a field of the given format: HEX digits, or
// the characters of the bytes. Nothing when an ASC field cannot carry one of them (a zero
// ends the text there, CR and LF end the line).
std::optional<QString> checkAppendText(CheckKind kind, std::uint16_t value, DataFormat format);

// What check button `kind` (1..8) shows for the selection of the current transmit line.
// Buttons 3 and 4 have no check: they give nothing and the displays keep their captions.
std::optional<ChecksumCaptions> ComputeChecksum(int kind, const QString& selection,
                                                DataFormat format);

} // namespace kirt
