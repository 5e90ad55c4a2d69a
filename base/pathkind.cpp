#include "base/pathkind.h"

#include "base/platform.h"

#include <QFileInfo>

namespace kirt {

namespace {

using Type = platform::FileStatus::Type;

QString notRegular(Type type)
{
    switch (type) {
    case Type::Fifo:
        return QStringLiteral("It is a FIFO, not a regular file.");
    case Type::Device:
        return QStringLiteral("It is a device, not a regular file.");
    case Type::Folder:
        return QStringLiteral("It is a folder, not a regular file.");
    case Type::Socket:
        return QStringLiteral("It is a socket, not a regular file.");
    default:
        return QStringLiteral("It is not a regular file.");
    }
}

} // namespace

PathKind inspectPath(const QString& path)
{
    PathKind kind;
    const platform::FileStatus own = platform::pathStatus(path, platform::Links::Keep);
    if (own.type == Type::Failed) {
        kind.kind = PathKind::Kind::Other;
        kind.reason = own.error;
    }
    if (!own.found())
        return kind;
    platform::FileStatus led = own;
    if (own.type == Type::Link) {
        kind.link = true;
        led = platform::pathStatus(path, platform::Links::Follow);
        if (!led.found()) {
            kind.kind = PathKind::Kind::Other;
            kind.reason = led.loop ? QStringLiteral("The link goes round in a loop.")
                                   : QStringLiteral("The link leads to nothing.");
            return kind;
        }
    }
    if (led.type != Type::Regular) {
        kind.kind = PathKind::Kind::Other;
        kind.reason = notRegular(led.type);
        return kind;
    }
    kind.kind = PathKind::Kind::Regular;
    kind.size = led.size;
    kind.target = kind.link ? QFileInfo(path).canonicalFilePath() : path;
    return kind;
}

} // namespace kirt
