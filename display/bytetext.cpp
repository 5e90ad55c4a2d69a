#include "display/bytetext.h"

namespace kirt {

void AppendByteText(QString& text, DataFormat format, std::uint8_t byte)
{
    if (format == DataFormat::Hex) {
        text += HexByte(byte);
        text += u' ';
    } else if (byte != 0) {
        text += QChar(byte);
    }
}

QString ByteText(DataFormat format, std::uint8_t byte)
{
    QString text;
    AppendByteText(text, format, byte);
    return text;
}

QString BytesText(DataFormat format, QByteArrayView bytes)
{
    QString text;
    text.reserve(format == DataFormat::Hex ? bytes.size() * 3 : bytes.size());
    for (const char b : bytes)
        AppendByteText(text, format, static_cast<std::uint8_t>(b));
    return text;
}

} // namespace kirt
