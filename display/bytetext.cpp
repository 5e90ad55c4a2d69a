#include "display/bytetext.h"

#include <array>

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
    AppendBytesText(text, format, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    static_cast<std::size_t>(bytes.size()));
    return text;
}

void AppendBytesText(QString& text, DataFormat format, const std::uint8_t* bytes, std::size_t count)
{
    // Two digits and a blank for every byte value, made once.
    static const std::array<std::array<char16_t, 3>, 256> hex = [] {
        std::array<std::array<char16_t, 3>, 256> table{};
        for (int b = 0; b < 256; ++b) {
            const QString digits = HexByte(static_cast<std::uint8_t>(b));
            table[static_cast<std::size_t>(b)] = {digits[0].unicode(), digits[1].unicode(), u' '};
        }
        return table;
    }();
    const qsizetype start = text.size();
    const auto width = static_cast<qsizetype>(format == DataFormat::Hex ? 3 : 1);
    text.resize(start + static_cast<qsizetype>(count) * width);
    char16_t* out = reinterpret_cast<char16_t*>(text.data()) + start;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (format == DataFormat::Hex) {
            const auto& digits = hex[b];
            *out++ = digits[0];
            *out++ = digits[1];
            *out++ = digits[2];
        } else if (b != 0) {
            // One byte is one character of ISO-8859-1; a zero byte adds nothing.
            *out++ = b;
        }
    }
    text.resize(out - reinterpret_cast<char16_t*>(text.data()));
}

} // namespace kirt
