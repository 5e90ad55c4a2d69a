#include "base/savefile.h"

#include "base/pathkind.h"

#include <QSaveFile>

namespace kirt {

FileResult saveFile(const QString& path, const QByteArray& bytes)
{
    const PathKind kind = inspectPath(path);
    if (kind.kind == PathKind::Kind::Other)
        return FileResult::failed(FileFailure::Create, kind.reason);
    QSaveFile file(kind.regular() ? kind.target : path);
    if (!file.open(QIODevice::WriteOnly))
        return FileResult::failed(FileFailure::Create, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        return FileResult::failed(FileFailure::Write, file.errorString());
    return {};
}

} // namespace kirt
