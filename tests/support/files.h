#pragma once

#include "serial/portmap.h"

#include <QByteArray>
#include <QFile>
#include <QLatin1Char>
#include <QString>

namespace kirt::test {

// All of a file; a file that cannot be read gives a text no test expects, so it fails the
// comparison rather than passing as empty.
inline QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Where the port map keeps the link for a COM name.
inline QString linkOf(const QString& port)
{
    return portLinkDirectory() + QLatin1Char('/') + port;
}

} // namespace kirt::test
