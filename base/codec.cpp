#include "base/codec.h"

#include <algorithm>
#include <cstring>

namespace kirt {

char16_t FilterHexDigitKey(char16_t key)
{
    if ((key >= u'0' && key <= u'9') || (key >= u'A' && key <= u'F'))
        return key;
    if (key >= u'a' && key <= u'f')
        return static_cast<char16_t>(key - u'a' + u'A');
    return 0;
}

char16_t FilterDataKey(DataFormat format, char16_t key)
{
    if (key == u'\r')
        return 0;
    if (format == DataFormat::Hex)
        return FilterHexDigitKey(key);
    return key;
}

std::uint8_t HexDigitValue(char16_t ch)
{
    if (ch >= u'0' && ch <= u'9')
        return static_cast<std::uint8_t>(ch - u'0');
    if (ch >= u'A' && ch <= u'F')
        return static_cast<std::uint8_t>(ch - u'A' + 10);
    if (ch >= u'a' && ch <= u'f')
        return static_cast<std::uint8_t>(ch - u'a' + 10);
    // Only pasted text can hold other characters; they keep their place in the pair.
    return 0;
}

std::uint8_t DecodeHexPair(char16_t high, char16_t low)
{
    return static_cast<std::uint8_t>(HexDigitValue(high) * 16 + HexDigitValue(low));
}

std::uint8_t DecodeHexPair(const char* text)
{
    return DecodeHexPair(static_cast<char16_t>(static_cast<unsigned char>(text[0])),
                         static_cast<char16_t>(static_cast<unsigned char>(text[1])));
}

std::size_t DecodeHexText(const std::uint8_t* text, std::size_t size, std::uint8_t* out)
{
    const std::size_t count = size / 2;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = DecodeHexPair(text[2 * i], text[2 * i + 1]);
    return count;
}

void LoadTransmitText(TransmitBuffer& buffer, const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), TransmitTextMax);
    std::memcpy(buffer.data(), bytes.constData(), n);
    buffer[n] = 0;
}

std::uint32_t ConvertTransmitText(TransmitBuffer& buffer, DataFormat format)
{
    // The terminator is always inside the buffer, but never trust that blindly.
    std::size_t n = 0;
    while (n < buffer.size() && buffer[n] != 0)
        ++n;
    if (format == DataFormat::Asc)
        return static_cast<std::uint32_t>(n);
    return static_cast<std::uint32_t>(DecodeHexText(buffer.data(), n, buffer.data()));
}

QByteArray ConvertText(const QString& text, DataFormat format)
{
    // A character beyond ISO-8859-1 becomes '?', a non-digit like any other, so it counts as 0
    // and keeps its place in the pair.
    QByteArray bytes = text.toLatin1();
    if (format == DataFormat::Asc)
        return bytes;
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    bytes.truncate(
        static_cast<qsizetype>(DecodeHexText(data, static_cast<std::size_t>(bytes.size()), data)));
    return bytes;
}

QString HexByte(std::uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[byte >> 4]), QLatin1Char(digits[byte & 0x0F])};
    return QString(pair, 2);
}

QString LastLineOf(const QString& text)
{
    // A break at the very end belongs to the last line; search for the break before it.
    qsizetype end = text.size();
    if (end > 0 && text[end - 1] == u'\n')
        --end;
    if (end > 0 && text[end - 1] == u'\r')
        --end;
    qsizetype cut = -1;
    for (qsizetype i = end - 1; i >= 0; --i) {
        if (text[i] == u'\n' || text[i] == u'\r' || text[i] == QChar::ParagraphSeparator ||
            text[i] == QChar::LineSeparator) {
            cut = i;
            break;
        }
    }
    return cut < 0 ? text : text.mid(cut + 1);
}

QString StripHexDumpSeparators(const QString& text)
{
    const auto separator = [](QChar ch) {
        return ch == u' ' || ch == u'\t' || ch == u',' || ch == u':' || ch == u';';
    };
    QString kept;
    kept.reserve(text.size());
    bool valueStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (separator(ch)) {
            valueStart = true;
            continue;
        }
        // Only at the start of a value: in "A0x" the 0 is a digit of its own.
        if (valueStart && ch == u'0' && i + 1 < text.size() &&
            (text[i + 1] == u'x' || text[i + 1] == u'X')) {
            ++i;
            valueStart = false;
            continue;
        }
        valueStart = ch == u'\n';
        kept += ch;
    }
    return kept;
}

} // namespace kirt
