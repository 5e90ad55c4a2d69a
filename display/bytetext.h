#pragma once

#include "base/codec.h"

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace kirt {

// How a byte received or sent is shown, and logged: HEX as two digits and a blank ("41 "),
// ASC as its ISO-8859-1 character. A zero byte shown as a character adds nothing.
void AppendByteText(QString& text, DataFormat format, std::uint8_t byte);
QString ByteText(DataFormat format, std::uint8_t byte);
QString BytesText(DataFormat format, QByteArrayView bytes);
// Appends the text of every byte, as AppendByteText would one by one, from a table.
void AppendBytesText(QString& text, DataFormat format, const std::uint8_t* bytes,
                     std::size_t count);

} // namespace kirt
