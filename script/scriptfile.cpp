#include "script/scriptfile.h"

#include "base/pathkind.h"
#include "base/platform.h"

#include <QLocale>

namespace kirt {

namespace {

QString tooLarge()
{
    return QStringLiteral("It is larger than %1 bytes, the most a script may be.")
        .arg(QLocale(QLocale::English).toString(MaxScriptBytes));
}

} // namespace

ScriptFile readScriptFile(const QString& path)
{
    const PathKind kind = inspectPath(path);
    if (kind.kind == PathKind::Kind::Missing)
        return {{}, QStringLiteral("No such file.")};
    if (!kind.regular())
        return {{}, kind.reason};
    if (kind.size > MaxScriptBytes)
        return {{}, tooLarge()};
    // The file the check saw, by its own name: a link swapped in since is not followed, and a
    // FIFO swapped in does not hold the open up. One byte beyond the limit tells a file that
    // grew past it since the check.
    const platform::FileBytes read = platform::readRegularFile(kind.target, MaxScriptBytes + 1);
    if (!read.error.isEmpty())
        return {{}, read.error};
    if (read.bytes.size() > MaxScriptBytes)
        return {{}, tooLarge()};
    return {QString::fromUtf8(read.bytes), {}};
}

} // namespace kirt
