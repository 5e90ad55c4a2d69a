// The one-line rule on any text: what it keeps is the text's own tail, holds no line break
// but a final one, and keeping it again changes nothing.
#include "base/codec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data),
                                            static_cast<qsizetype>(size / 2));
    const QString kept = kirt::LastLineOf(text);
    if (!text.endsWith(kept))
        std::abort();
    QString body = kept;
    if (body.endsWith(u'\n'))
        body.chop(1);
    if (body.endsWith(u'\r'))
        body.chop(1);
    for (const QChar c : body)
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            std::abort();
    if (kirt::LastLineOf(kept) != kept)
        std::abort();
    return 0;
}
