#include "transmit/fileaccess.h"

#include "transmit/textfile.h"

#include <QFile>
#include <QFileInfo>

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
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return failed(FileFailure::Create, file.errorString());
    const QByteArray bytes = TextFileBytes(text);
    // A full disk may only show when the data leave the buffer, so the close is checked too.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError)
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
