#pragma once

#include "vdev/timing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>

namespace kirt::vdev {

// The device's holding registers: addresses 0000h..00FFh, register n holding 1000h + n, so
// that every value read back names its own address.
inline constexpr int HoldingRegisterCount = 256;
std::uint16_t holdingRegister(std::uint16_t address);

// The most registers one request may read.
inline constexpr int MaxReadCount = 125;

enum ModbusFunction : std::uint8_t { ReadHoldingRegisters = 0x03 };

enum ModbusException : std::uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
};

// The frame with its CRC-16/MODBUS appended, low byte first.
QByteArray withModbusCrc(QByteArray frame);
// True when the last two bytes are the CRC of the rest.
bool modbusCrcValid(QByteArrayView frame);

struct ReadHoldingRequest
{
    std::uint8_t slave = 0;
    std::uint16_t start = 0;
    std::uint16_t count = 0;
};

// A complete "read holding registers" request (8 bytes, CRC checked); nothing for anything else.
std::optional<ReadHoldingRequest> parseReadHoldingRequest(QByteArrayView frame);

// The normal answer: slave, 03h, byte count, the values high byte first, CRC. The range must be
// inside the register map.
QByteArray readHoldingResponse(std::uint8_t slave, std::uint16_t start, std::uint16_t count);

// slave, function + 80h, code, CRC.
QByteArray modbusExceptionResponse(std::uint8_t slave, std::uint8_t function, std::uint8_t code);

// What a slave at `address` answers to one received frame: nothing for a bad CRC, another
// slave's address or a broadcast; an exception for a function it lacks or a bad range.
QByteArray answerModbusFrame(QByteArrayView frame, std::uint8_t address);

// Cuts a received byte stream into RTU frames. A frame ends when a request of a known length
// is complete, so an answer does not wait; otherwise when the line has been silent for the
// given time, as the protocol's inter-frame gap says.
class RtuFramer
{
public:
    explicit RtuFramer(Nanos silence);

    // Frames completed by these bytes (a silence before them ends the pending one first).
    QList<QByteArray> receive(QByteArrayView bytes, Nanos now);
    // The pending frame, once the silence after it is long enough.
    std::optional<QByteArray> poll(Nanos now);
    // When poll() will have a frame, if anything is pending.
    std::optional<Nanos> deadline() const;
    void reset();

    // Longer input is noise: a frame is at most 256 bytes.
    static constexpr qsizetype MaxFrame = 256;

private:
    QByteArray m_pending;
    Nanos m_silence;
    Nanos m_lastByte{0};
};

// A slave that answers function 03h on one address.
class ModbusSlave
{
public:
    explicit ModbusSlave(std::uint8_t address, Nanos silence = std::chrono::milliseconds(20));

    QByteArray receive(QByteArrayView bytes, Nanos now);
    QByteArray poll(Nanos now);
    std::optional<Nanos> deadline() const { return m_framer.deadline(); }
    void reset() { m_framer.reset(); }

private:
    std::uint8_t m_address;
    RtuFramer m_framer;
};

} // namespace kirt::vdev
