#pragma once

#include <QString>

class QFile;
class QIODevice;

namespace kirt {

// What a file operation could not do; the window puts it into words.
enum class FileFailure { None, Open, Read, Create, Write };

struct FileResult
{
    FileFailure failure = FileFailure::None;
    QString reason; // the system's words for it
    QString text;   // what a read returned

    bool ok() const { return failure == FileFailure::None; }
};

// Opens file for reading. Only a regular file: a pipe or a device may never end, or block the
// window while it waits.
FileResult OpenTextFile(QFile& file);

// Writes text to path as TextFileBytes gives it, replacing what the file held.
FileResult WriteTextFile(const QString& path, const QString& text);

// Whether path names the file open as device, whatever name it was opened by.
bool IsSameFile(const QIODevice* device, const QString& path);

} // namespace kirt
