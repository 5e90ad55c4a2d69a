#include "transfer/blockcodec.h"

#include <QList>

#include <array>
#include <cstring>

namespace kirt::xmodem {

namespace {

constexpr std::array<std::uint16_t, 256> crcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> CrcTable = crcTable();

bool isDigits(const QByteArray& text, int base)
{
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (c < '0' || c > (base == 8 ? '7' : '9'))
            return false;
    return true;
}

} // namespace

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ CrcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
    return crc;
}

std::uint8_t sum8(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

void appendBlock(QByteArray& out, std::uint8_t number, const char* data, std::size_t count,
                 std::size_t size, bool crc, char pad)
{
    const qsizetype start = out.size();
    out.append(char(size == LongBlock ? STX : SOH));
    out.append(char(number));
    out.append(char(0xFF - number));
    out.append(data, static_cast<qsizetype>(count));
    out.append(static_cast<qsizetype>(size - count), pad);
    const auto* body = reinterpret_cast<const std::uint8_t*>(out.constData() + start + 3);
    if (crc) {
        const std::uint16_t check = crc16(body, size);
        out.append(char(check >> 8));
        out.append(char(check & 0xFF));
    } else {
        out.append(char(sum8(body, size)));
    }
}

QByteArray fileHeader(const QString& name, std::int64_t size, std::int64_t mtime)
{
    if (name.isEmpty())
        return {};
    QByteArray data = name.toUtf8();
    data.append('\0');
    data.append(QByteArray::number(size));
    data.append(' ');
    data.append(QByteArray::number(std::max<std::int64_t>(mtime, 0), 8));
    return data;
}

std::optional<FileHeader> parseFileHeader(const std::uint8_t* data, std::size_t count,
                                          QString& error)
{
    const char* text = reinterpret_cast<const char*>(data);
    const std::size_t nameEnd = ::strnlen(text, count);
    FileHeader header;
    header.name = QString::fromUtf8(text, static_cast<qsizetype>(nameEnd));
    if (nameEnd + 1 >= count || header.name.isEmpty())
        return header;
    const char* rest = text + nameEnd + 1;
    const QByteArray fields =
        QByteArray(rest, static_cast<qsizetype>(::strnlen(rest, count - nameEnd - 1)));
    const QList<QByteArray> parts = fields.split(' ');
    if (parts.isEmpty() || parts[0].isEmpty())
        return header;
    // Beyond 18 digits the number would not fit: no file is that large either.
    if (!isDigits(parts[0], 10) || parts[0].size() > 18) {
        error = QStringLiteral("the size of %1 is not a number: \"%2\"")
                    .arg(header.name, QString::fromLatin1(parts[0].left(32)));
        return std::nullopt;
    }
    header.size = parts[0].toLongLong();
    if (parts.size() > 1 && isDigits(parts[1], 8) && parts[1].size() <= 20)
        header.mtime = static_cast<std::int64_t>(parts[1].toULongLong(nullptr, 8));
    return header;
}

std::size_t BlockParser::feed(const std::uint8_t* bytes, std::size_t count,
                              std::optional<Event>& event)
{
    event.reset();
    std::size_t taken = 0;
    while (taken < count) {
        if (m_need == 0) {
            const std::uint8_t byte = bytes[taken++];
            if (byte == SOH || byte == STX) {
                m_cancel = false;
                m_block.clear();
                m_need = 3 + (byte == STX ? LongBlock : ShortBlock) + (m_crc ? 2 : 1);
                m_block.reserve(m_need);
                m_block.push_back(byte);
                --m_need;
            } else if (byte == EOT) {
                m_cancel = false;
                event = Event{Event::Kind::Eot};
                return taken;
            } else if (byte == CAN) {
                if (m_cancel) {
                    m_cancel = false;
                    event = Event{Event::Kind::Cancel};
                    return taken;
                }
                m_cancel = true;
            } else {
                m_cancel = false;
            }
            continue;
        }
        const std::size_t part = std::min(m_need, count - taken);
        m_block.insert(m_block.end(), bytes + taken, bytes + taken + part);
        taken += part;
        m_need -= part;
        if (m_need > 0)
            break;
        const std::uint8_t number = m_block[1];
        if (static_cast<std::uint8_t>(number + m_block[2]) != 0xFF) {
            event = Event{Event::Kind::BadHeader, number};
            return taken;
        }
        const std::size_t size = m_block[0] == STX ? LongBlock : ShortBlock;
        const std::uint8_t* body = m_block.data() + 3;
        bool intact = false;
        if (m_crc)
            intact = crc16(body, size) == ((m_block[3 + size] << 8) | m_block[4 + size]);
        else
            intact = sum8(body, size) == m_block[3 + size];
        event = Event{Event::Kind::Block, number, intact, body, size};
        return taken;
    }
    return taken;
}

void BlockParser::reset()
{
    m_need = 0;
    m_block.clear();
    m_cancel = false;
}

} // namespace kirt::xmodem
