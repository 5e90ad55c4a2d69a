#pragma once

#include <QString>
#include <QtGlobal>

namespace kirt {

// The most a script file may hold. Scripts are written by hand; anything larger is a mistake
// (a log chosen instead of a script, a link to a device) that would only fill memory.
constexpr qint64 MaxScriptBytes = 4 * 1024 * 1024;

struct ScriptFile
{
    QString source; // the text, read as UTF-8
    QString error;  // why it was not read; empty when it was
};

// Reads a script: only a regular file of at most MaxScriptBytes. A FIFO, a device or a link to
// one is refused before it is opened, and the open itself can neither block nor follow a link
// swapped in meanwhile, so a reader never waits on what it was given.
ScriptFile readScriptFile(const QString& path);

} // namespace kirt
