#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The blocks of XMODEM and YMODEM: their bytes, their checks, the header of a YMODEM file and
// the parser that finds blocks in what a sender gives.
namespace kirt::xmodem {

constexpr std::uint8_t SOH = 0x01; // a block of 128 bytes
constexpr std::uint8_t STX = 0x02; // a block of 1024 bytes
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t CAN = 0x18;
constexpr std::uint8_t SUB = 0x1A; // pads the last block
constexpr std::uint8_t AskCrc = 'C';
constexpr std::size_t ShortBlock = 128;
constexpr std::size_t LongBlock = 1024;

// What ends a transfer from either side: two CANs are the signal; more, since a receiver in
// the middle of a block takes the first ones as data.
inline QByteArray cancelSequence()
{
    return QByteArray(8, char(CAN));
}

// CRC-16 with polynomial 1021h, starting at 0, most significant bit first.
std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count);
// The 8-bit sum of the bytes.
std::uint8_t sum8(const std::uint8_t* bytes, std::size_t count);

// Appends one block: header, number and its complement, the data padded to size (128 or
// 1024) with pad, then the CRC (high byte first) or the sum.
void appendBlock(QByteArray& out, std::uint8_t number, const char* data, std::size_t count,
                 std::size_t size, bool crc, char pad = char(SUB));

// The data of YMODEM's block 0 for a file: name, NUL, size in decimal, blank, modification
// time in octal seconds since 1970; no name at all ends the batch.
QByteArray fileHeader(const QString& name, std::int64_t size, std::int64_t mtime);
struct FileHeader
{
    QString name;                      // empty: the batch ends
    std::optional<std::int64_t> size;  // absent when the sender gave none
    std::optional<std::int64_t> mtime; // likewise
};
// The header read back; nothing with the reason for a size that is not a number.
std::optional<FileHeader> parseFileHeader(const std::uint8_t* data, std::size_t count,
                                          QString& error);

// Finds what a sender sends, a byte at a time or in any chunks: blocks, EOT, and CAN CAN.
// Anything else between blocks is skipped.
class BlockParser
{
public:
    struct Event
    {
        enum class Kind {
            Block,     // a whole block; intact tells whether its check held
            Eot,       // end of a file
            Cancel,    // CAN CAN
            BadHeader, // a block whose number and complement disagree: its length is unsure
        };
        Kind kind = Kind::Block;
        std::uint8_t number = 0;
        bool intact = false;
        const std::uint8_t* data = nullptr; // valid until the next feed
        std::size_t size = 0;
    };

    // The check the blocks carry: the receiver chose it by asking with 'C' or NAK.
    void setCrc(bool crc) { m_crc = crc; }
    bool crc() const { return m_crc; }
    // Takes bytes up to and including the next event, which it gives; returns how many it
    // took. Call again with the rest.
    std::size_t feed(const std::uint8_t* bytes, std::size_t count, std::optional<Event>& event);
    // Part of a block has come.
    bool inBlock() const { return m_need > 0; }
    // Drops a block begun.
    void reset();

private:
    bool m_crc = true;
    bool m_cancel = false; // the last byte between blocks was CAN
    std::vector<std::uint8_t> m_block;
    std::size_t m_need = 0;
};

} // namespace kirt::xmodem
