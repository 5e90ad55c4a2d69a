// The workbench reader over an arbitrary file: refused with a reason or read whole, never a
// crash, and what it reads is within the ranges the window accepts; a file it reads is read
// the same after being written back.
#include "base/comsettings.h"
#include "transmit/workbench.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

QTemporaryDir* folder = nullptr;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    folder = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = folder->filePath(QStringLiteral("input.kirt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const kirt::WorkbenchRead read = kirt::readWorkbench(path);
    check(read.workbench.has_value() == read.reason.isEmpty());
    if (!read.workbench)
        return 0;
    const kirt::Workbench& bench = *read.workbench;
    if (bench.port) {
        check(kirt::comPortNumber(bench.port->name) >= kirt::FirstPort);
        check(bench.port->dataBits >= 4 && bench.port->dataBits <= 8);
        check(bench.port->stopBits <= kirt::StopBits::Two &&
              bench.port->parity <= kirt::Parity::Space);
    }
    const QString again = folder->filePath(QStringLiteral("again.kirt"));
    QString reason;
    check(kirt::writeWorkbench(again, bench, &reason));
    const kirt::WorkbenchRead reread = kirt::readWorkbench(again);
    check(reread.workbench.has_value() && *reread.workbench == bench);
    return 0;
}
