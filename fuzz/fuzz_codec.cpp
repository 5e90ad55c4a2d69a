// Any text through the data codec: nothing is written past the shared buffer and the counts
// follow the pairing rule.
#include "base/codec.h"

#include <cstdlib>

using namespace kirt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The same bytes once as ISO-8859-1 text and once as UTF-16 (characters beyond one byte).
    const QString latin =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString wide = QString::fromUtf16(reinterpret_cast<const char16_t*>(data),
                                            static_cast<qsizetype>(size / 2));
    for (const QString& text : {latin, wide}) {
        TransmitBuffer buffer;
        LoadTransmitText(buffer, text);
        // Text stops at its first zero byte, as the buffer is zero-terminated.
        const QByteArray bytes = text.toLatin1();
        const qsizetype zero = bytes.indexOf('\0');
        const auto length = static_cast<std::size_t>(
            std::min<qsizetype>(zero < 0 ? bytes.size() : zero, TransmitTextMax));
        TransmitBuffer hex = buffer;
        if (ConvertTransmitText(buffer, DataFormat::Asc) != length)
            std::abort();
        if (ConvertTransmitText(hex, DataFormat::Hex) != length / 2)
            std::abort();
        if (ConvertText(text, DataFormat::Hex).size() != text.size() / 2)
            std::abort();
        for (const QChar c : text) {
            const char16_t key = FilterHexDigitKey(c.unicode());
            if (key != 0 && HexDigitValue(key) != HexDigitValue(c.unicode()))
                std::abort();
        }
    }
    return 0;
}
