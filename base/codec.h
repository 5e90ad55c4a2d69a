#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace kirt {

// Format of a data field; equals the item index of every format box ("HEX", "ASC").
enum class DataFormat : std::uint8_t { Hex = 0, Asc = 1 };

inline DataFormat dataFormatFromIndex(int index)
{
    return index == 1 ? DataFormat::Asc : DataFormat::Hex;
}

// Characters a data field accepts, by format.
inline constexpr int HexFieldLimit = 1000;
inline constexpr int AscFieldLimit = 500;

inline int fieldLimit(DataFormat format)
{
    return format == DataFormat::Hex ? HexFieldLimit : AscFieldLimit;
}

// "0"-"9" and "A"-"F" pass, "a"-"f" become upper case, everything else becomes 0 (discarded).
char16_t FilterHexDigitKey(char16_t key);

// The typed-key rule of every data field: Enter is discarded, HEX passes FilterHexDigitKey,
// ASC takes the key as it is. Returns the key to insert, or 0.
char16_t FilterDataKey(DataFormat format, char16_t key);

// Value of one hexadecimal digit; a character that is not a digit counts as 0.
std::uint8_t HexDigitValue(char16_t ch);

// Two characters to one byte: exactly text[0] and text[1] are read.
std::uint8_t DecodeHexPair(const char* text);
std::uint8_t DecodeHexPair(char16_t high, char16_t low);

// The one HEX text decoder: characters pair strictly by position, pair i (text[2i], text[2i+1])
// giving out[i]; an odd last digit is ignored. out may be text itself, since byte i is written
// behind the pair it comes from. Returns the number of bytes.
std::size_t DecodeHexText(const std::uint8_t* text, std::size_t size, std::uint8_t* out);

// The shared buffer every sender of typed data converts into.
inline constexpr std::size_t TransmitBufferSize = 1024;
// Longest text that still leaves room for CR LF (or the terminating zero) in the buffer.
inline constexpr std::size_t TransmitTextMax = TransmitBufferSize - 2;
using TransmitBuffer = std::array<std::uint8_t, TransmitBufferSize>;

// Copies a field's text into the buffer as ISO-8859-1 bytes with a terminating zero.
// Text beyond TransmitTextMax bytes is cut so that nothing is written past the buffer.
void LoadTransmitText(TransmitBuffer& buffer, const QString& text);

// Converts the zero-terminated text at the start of the buffer in place and returns the
// number of bytes to send: ASC keeps the bytes, HEX pairs characters strictly by position.
std::uint32_t ConvertTransmitText(TransmitBuffer& buffer, DataFormat format);

// Convenience for callers outside the shared buffer (checksum selections, protocol packets).
QByteArray ConvertText(const QString& text, DataFormat format);

// What a paste into a HEX field keeps of a hex dump: blanks, tabs, commas, colons and semicolons
// go, and so does a "0x" or "0X" that starts a value. Everything else stays where it was, to
// be paired by position as typed digits are.
QString StripHexDumpSeparators(const QString& text);

// The two-digit upper-case form of a byte.
QString HexByte(std::uint8_t byte);

// What the one-line rule leaves of a text: the last line, with the line break that may follow
// it. A line break at the very end does not start a further line.
QString LastLineOf(const QString& text);

} // namespace kirt
