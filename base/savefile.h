#pragma once

#include "base/fileresult.h"

#include <QByteArray>
#include <QString>

namespace kirt {

// Writes bytes to path as every file the program writes is written. A regular file (or a new
// one) is written beside and renamed over the path, so a failed write leaves the old file
// whole; through a symbolic link the link's target is replaced and the link stays. Anything
// else (a FIFO, a device, a folder, also behind a link) is refused with the reason and never
// opened: a FIFO would block until a reader comes, a device would take the bytes.
FileResult saveFile(const QString& path, const QByteArray& bytes);

} // namespace kirt
