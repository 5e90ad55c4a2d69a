#include "transfer/transferrequest.h"

#include "base/platform.h"
#include "transfer/blockreceiver.h"
#include "transfer/blocksender.h"
#include "transfer/zmodemjob.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace kirt {

namespace {

using Type = platform::FileStatus::Type;

// The file opened for sending, or the reason it cannot be.
SendFile openForSending(const QString& path, QString& error)
{
    SendFile file;
    const QFileInfo info(path);
    file.name = info.fileName();
    const platform::FileStatus status = platform::pathStatus(path, platform::Links::Follow);
    if (status.type == Type::Missing || status.type == Type::Failed) {
        error = QStringLiteral("cannot read %1: %2")
                    .arg(file.name,
                         status.error.isEmpty() ? QStringLiteral("No such file") : status.error);
        return file;
    }
    // A device or a FIFO would never end, or block the open.
    if (status.type != Type::Regular) {
        error = QStringLiteral("%1 is not a regular file").arg(file.name);
        return file;
    }
    auto data = std::make_unique<QFile>(path);
    if (!data->open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(file.name, data->errorString());
        return file;
    }
    file.size = data->size();
    file.mtime = info.lastModified().toSecsSinceEpoch();
    file.data = std::move(data);
    return file;
}

QString receiveRefusal(const TransferRequest& request)
{
    const QString path = request.paths.value(0);
    if (path.isEmpty())
        return QStringLiteral("no place to write to was given");
    const Type type = platform::pathStatus(path, platform::Links::Follow).type;
    if (request.protocol == TransferProtocol::Xmodem) {
        if (type == Type::Folder)
            return QStringLiteral("%1 is a folder").arg(path);
        if (type != Type::Missing && type != Type::Regular)
            return QStringLiteral("%1 is not a regular file").arg(path);
        return {};
    }
    return type == Type::Folder ? QString() : QStringLiteral("%1 is not a folder").arg(path);
}

} // namespace

std::unique_ptr<Transfer> makeTransfer(PortController& port, const TransferRequest& request,
                                       QObject* parent)
{
    if (request.protocol == TransferProtocol::Zmodem)
        return std::make_unique<ZmodemJob>(port, request.direction, request.paths, parent);
    QString failure;
    if (request.direction == TransferDirection::Send) {
        std::vector<SendFile> files;
        for (const QString& path : request.paths) {
            files.push_back(openForSending(path, failure));
            if (!failure.isEmpty())
                break;
        }
        if (files.empty())
            failure = QStringLiteral("no file to send was given");
        auto machine = std::make_unique<BlockSender>(request.protocol, std::move(files),
                                                     request.longBlocks, request.timing);
        return std::make_unique<TransferJob>(port, std::move(machine), nullptr, parent, failure);
    }
    failure = receiveRefusal(request);
    std::unique_ptr<ReceiveTarget> target;
    if (request.protocol == TransferProtocol::Xmodem)
        target = std::make_unique<FileReceiveTarget>(request.paths.value(0));
    else
        target = std::make_unique<FolderReceiveTarget>(request.paths.value(0));
    auto machine = std::make_unique<BlockReceiver>(request.protocol, *target, request.timing);
    return std::make_unique<TransferJob>(port, std::move(machine), std::move(target), parent,
                                         failure);
}

} // namespace kirt
