#include "transmit/fileaccess.h"

#include "base/platform.h"
#include "base/savefile.h"
#include "transmit/textfile.h"

#include <QFile>
#include <QFileInfo>

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
    if (!file)
        return false;
    const platform::FileStatus opened = platform::fileStatus(*file);
    const platform::FileStatus named = platform::pathStatus(path, platform::Links::Follow);
    return opened.found() && named.found() && opened.id == named.id;
}

} // namespace kirt
