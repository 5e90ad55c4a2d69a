// File transfers in the window: the File menu's XMODEM, YMODEM and ZMODEM items, their progress
// dialog and their line in the display.
#include "app/transferhost.h"

#include "app/dialogs.h"
#include "ui/transferdialog.h"
#include "ui_Umain.h"

#include <QFileInfo>

namespace kirt {

TransferHost::TransferHost(QWidget& window, Ui::TFmain& ui, PortController& port,
                           std::function<void(const QString&)> note)
    : m_window(window), m_ui(ui), m_port(port), m_note(std::move(note))
{
    connect(ui.SendXmodemAction, &QAction::triggered, this, &TransferHost::sendXmodem);
    connect(ui.SendYmodemAction, &QAction::triggered, this, &TransferHost::sendYmodem);
    connect(ui.SendZmodemAction, &QAction::triggered, this, &TransferHost::sendZmodem);
    connect(ui.ReceiveXmodemAction, &QAction::triggered, this, &TransferHost::receiveXmodem);
    connect(ui.ReceiveYmodemAction, &QAction::triggered, this, &TransferHost::receiveYmodem);
    connect(ui.ReceiveZmodemAction, &QAction::triggered, this, &TransferHost::receiveZmodem);
    connect(&m_port, &PortController::opened, this, &TransferHost::updateActions);
    connect(&m_port, &PortController::closed, this, &TransferHost::updateActions);
    connect(&m_port, &PortController::claimChanged, this, &TransferHost::updateActions);
    m_port.addReceiver(this);
    updateActions();
}

TransferHost::~TransferHost()
{
    m_port.removeReceiver(this);
    // A transfer under way is cancelled as it goes; its end is nobody's news any more.
    if (m_transfer)
        m_transfer->disconnect(this);
}

void TransferHost::updateActions()
{
    Ui::TFmain& ui = m_ui;
    const bool free = m_port.isOpen() && !m_port.claimed();
    for (QAction* action :
         {ui.SendXmodemAction, ui.SendYmodemAction, ui.ReceiveXmodemAction, ui.ReceiveYmodemAction})
        action->setEnabled(free);
    // Without lrzsz the items say why they cannot be used.
    const QString missing = ZmodemJob::unavailableReason();
    for (QAction* action : {ui.SendZmodemAction, ui.ReceiveZmodemAction}) {
        action->setEnabled(free && missing.isEmpty());
        action->setToolTip(missing.isEmpty() ? action->text() : missing);
        action->setStatusTip(missing);
    }
}

void TransferHost::sendXmodem()
{
    const QString path = dialogs().openFile(
        &m_window, {{QStringLiteral("All Files"), QStringLiteral("*")}}, 0, nullptr);
    if (!path.isEmpty())
        run(TransferProtocol::Xmodem, TransferDirection::Send, {path});
}

void TransferHost::sendYmodem()
{
    const QStringList paths = dialogs().openFiles(&m_window, QStringLiteral("Send with YMODEM"));
    if (!paths.isEmpty())
        run(TransferProtocol::Ymodem, TransferDirection::Send, paths);
}

void TransferHost::sendZmodem()
{
    const QStringList paths = dialogs().openFiles(&m_window, QStringLiteral("Send with ZMODEM"));
    if (!paths.isEmpty())
        run(TransferProtocol::Zmodem, TransferDirection::Send, paths);
}

void TransferHost::receiveXmodem()
{
    const QString path =
        dialogs().saveFile(&m_window, {{QStringLiteral("All Files"), QStringLiteral("*")}}, 0, {});
    if (!path.isEmpty())
        run(TransferProtocol::Xmodem, TransferDirection::Receive, {path});
}

void TransferHost::receiveYmodem()
{
    const QString folder =
        dialogs().chooseFolder(&m_window, QStringLiteral("Receive with YMODEM into"));
    if (!folder.isEmpty())
        run(TransferProtocol::Ymodem, TransferDirection::Receive, {folder});
}

void TransferHost::receiveZmodem()
{
    const QString folder =
        dialogs().chooseFolder(&m_window, QStringLiteral("Receive with ZMODEM into"));
    if (!folder.isEmpty())
        run(TransferProtocol::Zmodem, TransferDirection::Receive, {folder});
}

void TransferHost::run(TransferProtocol protocol, TransferDirection direction,
                       const QStringList& paths)
{
    if (m_transfer || !m_port.isOpen())
        return;
    TransferRequest request;
    request.protocol = protocol;
    request.direction = direction;
    request.paths = paths;
    request.longBlocks = m_ui.XmodemBlockComboBox->currentIndex() == 1;
    m_transfer = makeTransfer(m_port, request);
    const QString verb = direction == TransferDirection::Send ? QStringLiteral("Sending with %1")
                                                              : QStringLiteral("Receiving with %1");
    m_dialog = new TransferDialog(verb.arg(protocolName(protocol)), &m_window);
    connect(m_dialog, &TransferDialog::cancelRequested, m_transfer.get(), &Transfer::cancel);
    connect(m_transfer.get(), &Transfer::progress, m_dialog, &TransferDialog::showProgress);
    connect(m_transfer.get(), &Transfer::finished, this, &TransferHost::ended);
    m_dialog->show();
    m_transfer->start();
}

void TransferHost::ended(const TransferResult&, const QString& line)
{
    // Not close(): closing the dialog is how the user cancels.
    if (m_dialog) {
        m_dialog->hide();
        m_dialog->deleteLater();
    }
    m_transfer.release()->deleteLater();
    m_note(line);
    updateActions();
}

void TransferHost::received(const std::uint8_t* bytes, std::size_t count, const ReadTime&)
{
    // Asked from the event loop, not in the middle of the port's hand-over.
    if (m_zmodemStart.feed(bytes, count) && !m_asking && !m_transfer && m_notAsking.hasExpired())
        QMetaObject::invokeMethod(this, &TransferHost::askForZmodem, Qt::QueuedConnection);
}

void TransferHost::askForZmodem()
{
    if (m_transfer || !m_port.isOpen())
        return;
    const QString missing = ZmodemJob::unavailableReason();
    if (!missing.isEmpty()) {
        m_note(QStringLiteral("ZMODEM: the device starts a transfer, but ") + missing);
        return;
    }
    m_asking = true;
    const bool yes = dialogs().confirm(
        &m_window, QStringLiteral("The device starts sending files by ZMODEM. Receive them?"));
    const QString folder =
        yes ? dialogs().chooseFolder(&m_window, QStringLiteral("Receive with ZMODEM into"))
            : QString();
    m_asking = false;
    if (!yes)
        m_notAsking.setRemainingTime(NotAskingMs);
    if (!folder.isEmpty())
        run(TransferProtocol::Zmodem, TransferDirection::Receive, {folder});
}

} // namespace kirt
