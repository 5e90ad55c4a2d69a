#pragma once

#include "base/fileresult.h"

#include <QtGlobal>

#include <cstdint>
#include <optional>

class QFile;
class QIODevice;

namespace kirt {

// The display's rows as RowSplitter lays a text out: a line longer than a row wraps every
// `columns` characters counted from the line's start; the break at the very end of the text
// starts no row.

// Where a text must start so that showing it from there gives exactly its last `rows` rows
// (at least one), the same as showing all of it and cutting the oldest rows. The start is
// a line start or a wrap point inside a line. Reads the first `size` bytes of a random-access
// device backwards, one chunk at a time, so a file of any size costs one chunk of memory;
// nullopt when a read fails or comes up short.
std::optional<qint64> DisplayTailStart(QIODevice& device, qint64 size, int columns,
                                       std::uint32_t rows, qint64 chunkSize = 64 * 1024);

// The text of an open file that the display keeps: the rows that would survive the line limit,
// and no more, so a file of any size costs what the display holds. A failure is a Read one.
FileResult ReadDisplayTail(QFile& file, int columns, std::uint32_t rows);

} // namespace kirt
