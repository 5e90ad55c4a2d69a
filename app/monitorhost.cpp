#include "app/monitorhost.h"

#include "app/dialogs.h"
#include "script/sessionport.h"
#include "ui_Umain.h"

#include <QTimer>

namespace kirt {

namespace {

// As long as the port's own " Reconnected" stays on the bar.
constexpr int BackShownMs = 3000;

QString rowName(const QString& port)
{
    return port + QStringLiteral("> ");
}

} // namespace

MonitorHost::MonitorHost(QWidget& window, Ui::TFmain& ui, PortController& port)
    : m_window(window), m_ui(ui), m_port(port)
{
    m_ui.MonitorPortLabel->hide();
    m_shownFor = new QTimer(this);
    m_shownFor->setSingleShot(true);
    m_shownFor->setInterval(BackShownMs);
    connect(m_shownFor, &QTimer::timeout, m_ui.MonitorPortLabel, &QWidget::hide);
    connect(m_ui.MonitorPortComboBox, &QComboBox::activated, this, &MonitorHost::chosen);
    connect(&m_port, &PortController::closed, this, &MonitorHost::close);
    connect(&m_monitor, &PortController::openFinished, this, &MonitorHost::opened);
    connect(&m_monitor.session(), &PortSession::lost, this, [this] {
        show(QStringLiteral(" Monitor lost: %1 - waiting for it").arg(m_monitor.portName()));
        const QString reason = m_monitor.session().lossReason();
        if (!reason.isEmpty())
            m_ui.MonitorPortLabel->setToolTip(reason);
    });
    connect(&m_monitor.session(), &PortSession::reconnected, this,
            [this] { show(QStringLiteral(" Monitor back: %1").arg(m_monitor.portName()), true); });
}

MonitorHost::~MonitorHost()
{
    m_port.mergeMonitor(nullptr);
}

QString MonitorHost::chosenName() const
{
    return m_ui.MonitorPortComboBox->currentIndex() > 0 ? m_ui.MonitorPortComboBox->currentText()
                                                        : QString();
}

void MonitorHost::chosen()
{
    const QString name = chosenName();
    if (!name.isEmpty() && name == m_ui.SerialPortComboBox->currentText()) {
        dialogs().message(&m_window, QStringLiteral("Monitor Port"),
                          QStringLiteral("%1 is the port itself: a monitor port is another port, "
                                         "which is only read.")
                              .arg(name));
        m_ui.MonitorPortComboBox->setCurrentIndex(0);
    }
    // A change while the port is open applies at once, as the line settings do.
    if (m_port.isOpen() && (m_monitor.isOpen() || m_monitor.opening() || !chosenName().isEmpty()))
        portOpened();
}

void MonitorHost::portOpened()
{
    close();
    const QString name = chosenName();
    if (name.isEmpty() || !m_port.isOpen())
        return;
    // The port box may have been changed to the monitor's port since it was chosen.
    if (name == m_port.portName()) {
        show(QStringLiteral(" Monitor %1 not opened: it is the port itself").arg(name));
        return;
    }
    OpenRequest request;
    request.portName = name;
    request.settings = m_port.openSettings();
    // Flow control would have the monitor's driver raise RTS or send XOFF on a line it only
    // reads: the monitor always opens without.
    request.settings.flowControl = FlowControl::None;
    m_monitor.beginOpen(request);
}

void MonitorHost::opened(const OpenResult& result)
{
    if (!result.ok()) {
        const OpenFailureWords words = openFailureWords(chosenName(), result);
        show(QStringLiteral(" Monitor not opened: ") + words.line());
        m_ui.MonitorPortLabel->setToolTip(words.detail());
        return;
    }
    if (!m_port.isOpen()) {
        m_monitor.close();
        return;
    }
    m_monitor.session().setRxEnabled(true);
    ReceiveSettings& rx = m_port.pipeline().settings();
    rx.rowNames = {rowName(m_port.portName()), rowName(m_monitor.portName())};
    m_port.mergeMonitor(&m_monitor);
    m_shownFor->stop();
    m_ui.MonitorPortLabel->hide();
}

void MonitorHost::close()
{
    m_port.mergeMonitor(nullptr);
    m_port.pipeline().settings().rowNames = {};
    m_monitor.close();
    m_shownFor->stop();
    m_ui.MonitorPortLabel->hide();
}

void MonitorHost::checkDevice()
{
    if (m_monitor.isOpen())
        m_monitor.session().checkDevice();
}

void MonitorHost::show(const QString& text, bool forAWhile)
{
    m_shownFor->stop();
    m_ui.MonitorPortLabel->setText(text);
    m_ui.MonitorPortLabel->setToolTip(text);
    m_ui.MonitorPortLabel->show();
    if (forAWhile)
        m_shownFor->start();
}

} // namespace kirt
