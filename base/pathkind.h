#pragma once

#include <QString>
#include <QtGlobal>

namespace kirt {

// What a path names, found without opening it: opening a FIFO blocks until a writer or reader
// comes, and opening a device acts on the device.
struct PathKind
{
    enum class Kind { Missing, Regular, Other };
    Kind kind = Kind::Missing;
    bool link = false; // the path itself is a symbolic link
    QString target;    // the regular file the path leads to (through a link: its target)
    qint64 size = 0;
    QString reason; // for Other: what it is instead of a regular file

    bool regular() const { return kind == Kind::Regular; }
};

PathKind inspectPath(const QString& path);

} // namespace kirt
