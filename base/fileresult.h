#pragma once

#include <QString>

namespace kirt {

// What a file operation could not do; the window puts it into words.
enum class FileFailure { None, Open, Read, Create, Write };

struct FileResult
{
    FileFailure failure = FileFailure::None;
    QString reason; // the system's words for it
    QString text;   // what a read returned

    bool ok() const { return failure == FileFailure::None; }
    static FileResult failed(FileFailure failure, const QString& reason)
    {
        return {failure, reason, {}};
    }
};

} // namespace kirt
