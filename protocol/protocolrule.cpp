#include "protocol/protocolrule.h"

#include <algorithm>
#include <cstring>

namespace kirt {

std::uint32_t ProtocolRule::parse(const QString& text)
{
    // The text's bytes go into the packet storage first, the same single-byte form the
    // response goes out in.
    const QByteArray bytes =
        ConvertText(text.left(static_cast<qsizetype>(PacketCapacity)), DataFormat::Asc);
    std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), PacketCapacity);
    std::memcpy(m_packet.data(), bytes.constData(), n);

    if (m_format == DataFormat::Hex)
        n = DecodeHexText(m_packet.data(), n, m_packet.data());
    m_length = static_cast<std::uint32_t>(n);

    if (m_progress >= m_length)
        m_progress = 0;
    return m_length;
}

bool ProtocolRule::match(std::uint8_t byte)
{
    if (m_length == 0 || m_progress >= m_length) {
        m_progress = 0;
        return false;
    }
    if (byte != m_packet[m_progress]) {
        m_progress = 0;
        return false;
    }
    if (++m_progress != m_length)
        return false;
    m_progress = 0;
    ++m_responseCount;
    return true;
}

bool ProtocolRule::setFormat(DataFormat format)
{
    const bool changed = format != m_format;
    m_format = format;
    return changed;
}

QByteArrayView ProtocolRule::packet() const
{
    return QByteArrayView(m_packet.data(), static_cast<qsizetype>(m_length));
}

QString responseCountCaption(int ruleNumber, std::uint32_t count)
{
    return QStringLiteral("Protocol No.") + QString::number(ruleNumber) +
           QStringLiteral(" Response Count : ") + QString::number(count);
}

} // namespace kirt
