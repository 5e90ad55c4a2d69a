#include "script/scripttransfer.h"

#include "transfer/transferrequest.h"

#include <QJSEngine>
#include <QPointer>

#include <condition_variable>
#include <mutex>

namespace kirt {

namespace {

const char TransferPrelude[] = R"JS(
(function (t, g) {
"use strict";
function run(r) {
    if (r.error !== undefined) throw new Error(r.error);
    return {bytes: r.bytes, retries: r.retries, ms: r.ms};
}
function list(paths) { return (Array.isArray(paths) ? paths : [paths]).map(String); }
g.xmodemSend = function (path, options) {
    return run(t.transfer("xmodem", true, [String(path)], options || {}));
};
g.ymodemSend = function (paths) { return run(t.transfer("ymodem", true, list(paths), {})); };
g.xmodemReceive = function (path) { return run(t.transfer("xmodem", false, [String(path)], {})); };
g.ymodemReceive = function (folder) {
    return run(t.transfer("ymodem", false, [String(folder)], {}));
};
})(__kirtTransfer, this);
delete this.__kirtTransfer;
)JS";

TransferResult failed(const TransferRequest& request, const QString& reason)
{
    TransferResult result;
    result.protocol = request.protocol;
    result.direction = request.direction;
    result.end = TransferResult::End::Failed;
    result.reason = reason;
    return result;
}

} // namespace

TransferResult ScriptChannel::transferOnOwner(const TransferRequest& request)
{
    struct State
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<TransferResult> result;
        QPointer<Transfer> transfer; // the owner's thread's alone
    };
    auto state = std::make_shared<State>();
    QObject* owner = m_owner.data();
    ScriptPort* port = m_port;
    if (!owner || !port)
        return failed(request, QStringLiteral("there is no port"));
    const auto settle = [state](const TransferResult& result) {
        {
            const std::lock_guard lock(state->mutex);
            state->result = result;
        }
        state->done.notify_all();
    };
    QMetaObject::invokeMethod(
        owner,
        [state, port, owner, request, settle] {
            PortController* controller = port->transferPort();
            if (!controller) {
                settle(failed(request, QStringLiteral("there is no port to transfer over")));
                return;
            }
            Transfer* transfer = makeTransfer(*controller, request, owner).release();
            state->transfer = transfer;
            QObject::connect(
                transfer, &Transfer::finished, owner,
                [port, transfer, settle](const TransferResult& result, const QString& line) {
                    port->transferLine(line);
                    transfer->deleteLater();
                    settle(result);
                });
            transfer->start();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(state->mutex);
    while (!state->result) {
        state->done.wait_for(lock, std::chrono::milliseconds(10));
        if (!state->result && cancelled()) {
            // The script is stopped: so is its transfer, which still says how it ended.
            QMetaObject::invokeMethod(
                owner,
                [state] {
                    if (state->transfer)
                        state->transfer->cancel();
                },
                Qt::QueuedConnection);
            return failed(request, QStringLiteral("stopped"));
        }
    }
    return *state->result;
}

QJSValue ScriptTransferApi::install(QJSEngine& engine)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    engine.globalObject().setProperty(QStringLiteral("__kirtTransfer"), engine.newQObject(this));
    return engine.evaluate(QString::fromUtf8(TransferPrelude), QStringLiteral("kirt-prelude.js"));
}

QVariantMap ScriptTransferApi::transfer(const QString& protocol, bool send,
                                        const QStringList& paths, const QVariantMap& options)
{
    const QString name = protocol + (send ? QStringLiteral("Send") : QStringLiteral("Receive"));
    TransferRequest request;
    request.protocol =
        protocol == QLatin1String("ymodem") ? TransferProtocol::Ymodem : TransferProtocol::Xmodem;
    request.direction = send ? TransferDirection::Send : TransferDirection::Receive;
    request.paths = paths;
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (it.key() != QLatin1String("block"))
            return {
                {QStringLiteral("error"),
                 QStringLiteral("%1: no option \"%2\" (the option is block)").arg(name, it.key())}};
        const int block = it.value().toInt();
        if (block != 128 && block != 1024)
            return {{QStringLiteral("error"),
                     QStringLiteral("%1: block must be 128 or 1024").arg(name)}};
        request.longBlocks = block == 1024;
    }
    const TransferResult result = m_channel.transferOnOwner(request);
    if (!result.ok())
        return {{QStringLiteral("error"), QStringLiteral("%1: %2").arg(name, result.reason)}};
    return {{QStringLiteral("bytes"), static_cast<double>(result.bytes)},
            {QStringLiteral("retries"), result.retries},
            {QStringLiteral("ms"), static_cast<double>(result.ms)}};
}

} // namespace kirt
