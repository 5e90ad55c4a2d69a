#pragma once

#include "session/portcontroller.h"
#include "transfer/transferrequest.h"
#include "transfer/zmodemjob.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;
namespace Ui {
class TFmain;
}

namespace kirt {

class TransferDialog;

// The window's file transfers: the File menu's six items, enabled while the port is open and
// free; the progress dialog; the transfer's line in the display at its end; and the question
// when a board starts sending by ZMODEM.
class TransferHost final : public QObject, private PortReceiver
{
    Q_OBJECT

public:
    // note: shows a line of the program's own in the display, in the colour of sent data.
    TransferHost(QWidget& window, Ui::TFmain& ui, PortController& port,
                 std::function<void(const QString&)> note);
    ~TransferHost() override;

    bool running() const { return m_transfer != nullptr; }

    void sendXmodem();
    void sendYmodem();
    void sendZmodem();
    void receiveXmodem();
    void receiveYmodem();
    void receiveZmodem();

private:
    // Watches for a ZMODEM start while no transfer has the port.
    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) override;
    void askForZmodem();
    void run(TransferProtocol protocol, TransferDirection direction, const QStringList& paths);
    void ended(const TransferResult& result, const QString& line);
    void updateActions();

    QWidget& m_window;
    Ui::TFmain& m_ui;
    PortController& m_port;
    std::function<void(const QString&)> m_note;
    std::unique_ptr<Transfer> m_transfer;
    QPointer<TransferDialog> m_dialog;
    ZmodemStartDetector m_zmodemStart;
    bool m_asking = false;
    // After a No, sz's repeated starts are not asked about again for a while.
    QDeadlineTimer m_notAsking;
    static constexpr int NotAskingMs = 60000;
};

} // namespace kirt
