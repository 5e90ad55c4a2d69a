#pragma once

#include "base/fileresult.h"

#include <QString>

class QFile;
class QIODevice;

namespace kirt {

// Opens file for reading. Only a regular file: a pipe or a device may never end, or block the
// window while it waits.
FileResult OpenTextFile(QFile& file);

// Writes text to path as TextFileBytes gives it, replacing what the file held.
FileResult WriteTextFile(const QString& path, const QString& text);

// Whether path names the file open as device, whatever name it was opened by.
bool IsSameFile(const QIODevice* device, const QString& path);

} // namespace kirt
