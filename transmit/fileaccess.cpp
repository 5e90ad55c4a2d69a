#include "transmit/fileaccess.h"

#include "base/pathkind.h"
#include "transmit/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace kirt {

namespace {

FileResult failed(FileFailure failure, const QString& reason)
{
    FileResult result;
    result.failure = failure;
    result.reason = reason;
    return result;
}

} // namespace

FileResult OpenTextFile(QFile& file)
{
    const QFileInfo info(file.fileName());
    if (info.exists() && !info.isFile())
        return failed(FileFailure::Open, QStringLiteral("Not a regular file"));
    // Unbuffered: the readers take their own chunks, and a transmit sees a change to the
    // file after the chunk it holds.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return failed(FileFailure::Open, file.errorString());
    return {};
}

FileResult WriteTextFile(const QString& path, const QString& text)
{
    // A FIFO would block the write, a device would take it: only a regular file is written.
    const PathKind kind = inspectPath(path);
    if (kind.kind == PathKind::Kind::Other)
        return failed(FileFailure::Create, kind.reason);
    // Written beside and renamed over it, so a failed save leaves the old file whole; through
    // a link the target is replaced and the link stays.
    QSaveFile file(kind.regular() ? kind.target : path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(FileFailure::Create, file.errorString());
    const QByteArray bytes = TextFileBytes(text);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failed(FileFailure::Write, file.errorString());
    return {};
}

bool IsSameFile(const QIODevice* device, const QString& path)
{
    const auto* file = qobject_cast<const QFile*>(device);
    struct stat opened = {};
    struct stat named = {};
    return file && file->handle() >= 0 && ::fstat(file->handle(), &opened) == 0 &&
           ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace kirt
