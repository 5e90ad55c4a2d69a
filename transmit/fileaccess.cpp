#include "transmit/fileaccess.h"

#include "base/savefile.h"
#include "transmit/textfile.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace kirt {

FileResult OpenTextFile(QFile& file)
{
    const QFileInfo info(file.fileName());
    if (info.exists() && !info.isFile())
        return FileResult::failed(FileFailure::Open, QStringLiteral("Not a regular file"));
    // Unbuffered: the readers take their own chunks, and a transmit sees a change to the
    // file after the chunk it holds.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return FileResult::failed(FileFailure::Open, file.errorString());
    return {};
}

FileResult WriteTextFile(const QString& path, const QString& text)
{
    return saveFile(path, TextFileBytes(text));
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
