#include "checksum/checksum.h"

namespace kirt {

namespace {

std::uint8_t highByte(std::uint32_t value)
{
    return static_cast<std::uint8_t>((value >> 8) & 0xFFU);
}

std::uint8_t lowByte(std::uint32_t value)
{
    return static_cast<std::uint8_t>(value & 0xFFU);
}

std::uint32_t reflectedCrc(const CrcTable& table, std::uint32_t crc, QByteArrayView data)
{
    for (const char c : data) {
        const auto b = static_cast<std::uint8_t>(c);
        crc = (crc >> 8) ^ table[(crc ^ b) & 0xFFU];
    }
    return crc & 0xFFFFU;
}

std::uint32_t msbFirstCrc(const CrcTable& table, std::uint32_t crc, QByteArrayView data)
{
    for (const char c : data) {
        const auto b = static_cast<std::uint8_t>(c);
        crc = (table[((crc >> 8) ^ b) & 0xFFU] ^ (crc << 8)) & 0xFFFFU;
    }
    return crc;
}

std::uint8_t substituteByte(std::uint8_t byte)
{
    return (byte == 0x02 || byte == 0x03) ? static_cast<std::uint8_t>(byte + 0x20) : byte;
}

} // namespace

std::optional<CheckKind> checkKindFromButton(int button)
{
    for (const CheckKind kind : {CheckKind::Xor, CheckKind::Add, CheckKind::Crc16,
                                 CheckKind::Modbus, CheckKind::XModem, CheckKind::Hdlc})
        if (static_cast<int>(kind) == button)
            return kind;
    return std::nullopt;
}

QByteArray checksumData(const QString& selection, DataFormat format)
{
    return ConvertText(selection, format);
}

std::uint16_t computeCheck(CheckKind kind, QByteArrayView data)
{
    std::uint32_t result = 0;
    switch (kind) {
    case CheckKind::Xor: {
        std::uint8_t x = 0;
        for (const char c : data)
            x ^= static_cast<std::uint8_t>(c);
        result = x;
        break;
    }
    case CheckKind::Add: {
        std::uint32_t sum = 0;
        for (const char c : data)
            sum += static_cast<std::uint8_t>(c);
        result = sum & 0xFFFFU;
        break;
    }
    case CheckKind::Crc16:
        result = reflectedCrc(CrcTableA, 0x0000U, data);
        break;
    case CheckKind::Modbus:
        result = reflectedCrc(CrcTableA, 0xFFFFU, data);
        break;
    case CheckKind::XModem:
        result = msbFirstCrc(CrcTableB, 0x0000U, data);
        break;
    case CheckKind::Hdlc:
        result = reflectedCrc(CrcTableC, 0xFFFFU, data) ^ 0xFFFFU;
        break;
    }
    return static_cast<std::uint16_t>(result);
}

std::uint16_t substituteControlBytes(std::uint16_t crc)
{
    return static_cast<std::uint16_t>((substituteByte(highByte(crc)) << 8) |
                                      substituteByte(lowByte(crc)));
}

QString lengthCaption(qsizetype count)
{
    return QString::number(count) + QStringLiteral(" BYTE");
}

QString checkCaption(CheckKind kind, std::uint16_t value)
{
    if (kind == CheckKind::Xor)
        return HexByte(lowByte(value)) + u'H';
    return HexByte(highByte(value)) + HexByte(lowByte(value)) + u'H';
}

std::optional<ChecksumCaptions> ComputeChecksum(int kind, const QString& selection,
                                                DataFormat format)
{
    const std::optional<CheckKind> check = checkKindFromButton(kind);
    if (!check)
        return std::nullopt;
    const QByteArray data = checksumData(selection, format);
    std::uint16_t value = computeCheck(*check, data);
    if (*check == CheckKind::Crc16 || *check == CheckKind::Modbus)
        value = substituteControlBytes(value);
    return ChecksumCaptions{lengthCaption(data.size()), checkCaption(*check, value), *check, value};
}

QByteArray checkWireBytes(CheckKind kind, std::uint16_t value)
{
    const char high = static_cast<char>(highByte(value));
    const char low = static_cast<char>(lowByte(value));
    switch (kind) {
    case CheckKind::Xor:
        return QByteArray(1, low);
    case CheckKind::Modbus:
        return QByteArray{} + low + high;
    case CheckKind::Add:
    case CheckKind::Crc16:
    case CheckKind::XModem:
    case CheckKind::Hdlc:
        break;
    }
    return QByteArray{} + high + low;
}

std::optional<QString> checkAppendText(CheckKind kind, std::uint16_t value, DataFormat format)
{
    const QByteArray bytes = checkWireBytes(kind, value);
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (format == DataFormat::Hex)
            text += HexByte(byte);
        else if (byte == 0x00 || byte == 0x0A || byte == 0x0D)
            return std::nullopt;
        else
            text += QChar(byte);
    }
    return text;
}

} // namespace kirt
