#include "base/pathkind.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace kirt {

namespace {

QString notRegular(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("It is a FIFO, not a regular file.");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("It is a device, not a regular file.");
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder, not a regular file.");
    if (S_ISSOCK(mode))
        return QStringLiteral("It is a socket, not a regular file.");
    return QStringLiteral("It is not a regular file.");
}

} // namespace

PathKind inspectPath(const QString& path)
{
    PathKind kind;
    const QByteArray name = QFile::encodeName(path);
    struct stat own = {};
    if (::lstat(name.constData(), &own) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            kind.kind = PathKind::Kind::Other;
            kind.reason = QString::fromLocal8Bit(std::strerror(errno));
        }
        return kind;
    }
    struct stat led = own;
    if (S_ISLNK(own.st_mode)) {
        kind.link = true;
        if (::stat(name.constData(), &led) != 0) {
            kind.kind = PathKind::Kind::Other;
            kind.reason = errno == ELOOP ? QStringLiteral("The link goes round in a loop.")
                                         : QStringLiteral("The link leads to nothing.");
            return kind;
        }
    }
    if (!S_ISREG(led.st_mode)) {
        kind.kind = PathKind::Kind::Other;
        kind.reason = notRegular(led.st_mode);
        return kind;
    }
    kind.kind = PathKind::Kind::Regular;
    kind.size = static_cast<qint64>(led.st_size);
    kind.target = kind.link ? QFileInfo(path).canonicalFilePath() : path;
    return kind;
}

} // namespace kirt
