#pragma once

#include "script/scriptchannel.h"

#include <QJSValue>
#include <QObject>
#include <QVariantMap>

class QJSEngine;

namespace kirt {

// The file transfers a script may run: xmodemSend(path, {block: 128|1024}),
// ymodemSend(path or [paths]), xmodemReceive(path), ymodemReceive(folder). Each waits for the
// end and returns {bytes, retries, ms}, or throws with the reason. Called on the script's
// thread; the transfer runs on the owner's, on the port the script has.
class ScriptTransferApi final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptTransferApi(ScriptChannel& channel) : m_channel(channel) {}

    // Gives the engine the four functions; an error value when that failed.
    QJSValue install(QJSEngine& engine);

    // {bytes, retries, ms}, or {error}.
    Q_INVOKABLE QVariantMap transfer(const QString& protocol, bool send, const QStringList& paths,
                                     const QVariantMap& options);

private:
    ScriptChannel& m_channel;
};

} // namespace kirt
