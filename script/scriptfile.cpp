#include "script/scriptfile.h"

#include "base/pathkind.h"

#include <QFile>
#include <QLocale>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kirt {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

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
    // FIFO swapped in does not hold the open up. What was opened is checked again below.
    const int fd = ::open(QFile::encodeName(kind.target).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {{}, systemReason()};
    QByteArray bytes;
    QString error;
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0) {
        error = systemReason();
    } else if (!S_ISREG(opened.st_mode)) {
        error = QStringLiteral("It is not a regular file.");
    } else {
        // One byte beyond the limit tells a file that grew past it since the check.
        bytes.resize(static_cast<qsizetype>(MaxScriptBytes) + 1);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n =
                ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = systemReason();
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        bytes.truncate(got);
        if (error.isEmpty() && got > MaxScriptBytes)
            error = tooLarge();
    }
    ::close(fd);
    if (!error.isEmpty())
        return {{}, error};
    return {QString::fromUtf8(bytes), {}};
}

} // namespace kirt
