#include "vdev/modbus.h"

#include "checksum/checksum.h"

namespace kirt::vdev {

namespace {

constexpr std::uint8_t Broadcast = 0;
constexpr std::uint8_t ExceptionFlag = 0x80;

std::uint8_t byteAt(QByteArrayView frame, qsizetype index)
{
    return static_cast<std::uint8_t>(frame[index]);
}

std::uint16_t wordAt(QByteArrayView frame, qsizetype index)
{
    return static_cast<std::uint16_t>(byteAt(frame, index) << 8 | byteAt(frame, index + 1));
}

void appendWord(QByteArray& frame, std::uint16_t value)
{
    frame.append(static_cast<char>(value >> 8));
    frame.append(static_cast<char>(value & 0xFF));
}

// The length of a request whose function fixes it, once enough of it is known; 0 when only
// the silence after it can tell.
qsizetype requestLength(QByteArrayView pending)
{
    if (pending.size() < 2)
        return 0;
    switch (byteAt(pending, 1)) {
    case 0x01: // read coils
    case 0x02: // read discrete inputs
    case 0x03: // read holding registers
    case 0x04: // read input registers
    case 0x05: // write single coil
    case 0x06: // write single register
        return 8;
    case 0x0F: // write multiple coils
    case 0x10: // write multiple registers
        return pending.size() < 7 ? 0 : 9 + byteAt(pending, 6);
    default:
        return 0;
    }
}

} // namespace

std::uint16_t holdingRegister(std::uint16_t address)
{
    return static_cast<std::uint16_t>(0x1000 + address);
}

QByteArray withModbusCrc(QByteArray frame)
{
    const std::uint16_t crc = computeCheck(CheckKind::Modbus, frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

bool modbusCrcValid(QByteArrayView frame)
{
    if (frame.size() < 3)
        return false;
    const std::uint16_t crc = computeCheck(CheckKind::Modbus, frame.first(frame.size() - 2));
    return byteAt(frame, frame.size() - 2) == (crc & 0xFF) &&
           byteAt(frame, frame.size() - 1) == crc >> 8;
}

std::optional<ReadHoldingRequest> parseReadHoldingRequest(QByteArrayView frame)
{
    if (frame.size() != 8 || byteAt(frame, 1) != ReadHoldingRegisters || !modbusCrcValid(frame))
        return std::nullopt;
    return ReadHoldingRequest{byteAt(frame, 0), wordAt(frame, 2), wordAt(frame, 4)};
}

QByteArray readHoldingResponse(std::uint8_t slave, std::uint16_t start, std::uint16_t count)
{
    QByteArray frame;
    frame.append(static_cast<char>(slave));
    frame.append(static_cast<char>(ReadHoldingRegisters));
    frame.append(static_cast<char>(count * 2));
    for (int i = 0; i < count; ++i)
        appendWord(frame, holdingRegister(static_cast<std::uint16_t>(start + i)));
    return withModbusCrc(frame);
}

QByteArray modbusExceptionResponse(std::uint8_t slave, std::uint8_t function, std::uint8_t code)
{
    QByteArray frame;
    frame.append(static_cast<char>(slave));
    frame.append(static_cast<char>(function | ExceptionFlag));
    frame.append(static_cast<char>(code));
    return withModbusCrc(frame);
}

QByteArray answerModbusFrame(QByteArrayView frame, std::uint8_t address)
{
    // A slave stays silent on anything it cannot trust or that is not its own to answer.
    if (frame.size() < 4 || !modbusCrcValid(frame))
        return {};
    const std::uint8_t slave = byteAt(frame, 0);
    if (slave == Broadcast || slave != address)
        return {};
    const std::uint8_t function = byteAt(frame, 1);
    if (function & ExceptionFlag)
        return {};
    if (function != ReadHoldingRegisters)
        return modbusExceptionResponse(slave, function, IllegalFunction);

    const std::optional<ReadHoldingRequest> request = parseReadHoldingRequest(frame);
    if (!request || request->count < 1 || request->count > MaxReadCount)
        return modbusExceptionResponse(slave, function, IllegalDataValue);
    if (int{request->start} + request->count > HoldingRegisterCount)
        return modbusExceptionResponse(slave, function, IllegalDataAddress);
    return readHoldingResponse(slave, request->start, request->count);
}

RtuFramer::RtuFramer(Nanos silence) : m_silence(silence) {}

QList<QByteArray> RtuFramer::receive(QByteArrayView bytes, Nanos now)
{
    QList<QByteArray> frames;
    if (bytes.isEmpty())
        return frames;
    if (std::optional<QByteArray> ended = poll(now))
        frames.append(*ended);
    m_lastByte = now;
    for (const char c : bytes) {
        m_pending.append(c);
        const qsizetype length = requestLength(m_pending);
        if (length > 0 && m_pending.size() == length) {
            frames.append(m_pending);
            m_pending.clear();
        } else if (m_pending.size() >= MaxFrame) {
            m_pending.clear();
        }
    }
    return frames;
}

std::optional<QByteArray> RtuFramer::poll(Nanos now)
{
    if (m_pending.isEmpty() || now - m_lastByte < m_silence)
        return std::nullopt;
    QByteArray frame = m_pending;
    m_pending.clear();
    return frame;
}

std::optional<Nanos> RtuFramer::deadline() const
{
    if (m_pending.isEmpty())
        return std::nullopt;
    return m_lastByte + m_silence;
}

void RtuFramer::reset()
{
    m_pending.clear();
}

ModbusSlave::ModbusSlave(std::uint8_t address, Nanos silence)
    : m_address(address), m_framer(silence)
{
}

QByteArray ModbusSlave::receive(QByteArrayView bytes, Nanos now)
{
    QByteArray answers;
    for (const QByteArray& frame : m_framer.receive(bytes, now))
        answers += answerModbusFrame(frame, m_address);
    return answers;
}

QByteArray ModbusSlave::poll(Nanos now)
{
    const std::optional<QByteArray> frame = m_framer.poll(now);
    return frame ? answerModbusFrame(*frame, m_address) : QByteArray();
}

} // namespace kirt::vdev
