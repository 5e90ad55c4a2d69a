// The views, the display settings, the bars and the status line.
#include "app/Umain.h"
#include "ui/plotpanel.h"

#include "app/logic/barlayout.h"
#include "app/logic/statusline.h"
#include "app/logic/windowfit.h"
#include "display/displaytables.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"
#include "ui/searchbar.h"
#include "ui/terminalpanel.h"
#include "ui/terminalscreen.h"
#include "ui_Umain.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

namespace {

bool shown(const QWidget* w)
{
    // Asked of controls whose window may not be on screen yet, so use the widget's own flag.
    return !w->isHidden();
}

void setCaptionColour(QWidget* button, const QColor& colour)
{
    QPalette p = button->palette();
    p.setColor(QPalette::ButtonText, colour);
    button->setPalette(p);
}

} // namespace

void TFmain::Panel3CanResize()
{
    Ui::TFmain* ui = m_ui.get();
    const auto g = kirt::StretchCommandBar(ui->Panel3->width(), ui->EXIT_BitBtn->geometry(),
                                           ui->BitBtn6->geometry(), ui->SendStartBtn->geometry(),
                                           ui->SendStopBtn->geometry());
    ui->BitBtn6->setGeometry(g.filler);
    ui->SendStartBtn->setGeometry(g.start);
    ui->SendStopBtn->setGeometry(g.stop);
}

void TFmain::Panel1CanResize()
{
    Ui::TFmain* ui = m_ui.get();
    ui->BitBtn19->setGeometry(kirt::StretchLineBar(
        ui->Panel1->width(), ui->TerminalView_BitBtn->geometry(), ui->BitBtn19->geometry()));
}

void TFmain::UpdateStatusLine()
{
    Ui::TFmain* ui = m_ui.get();
    kirt::StatusLineState s;
    // The port in use while one is open; the one chosen otherwise.
    s.port = portOpen() ? port().session().portName() : ui->SerialPortComboBox->currentText();
    // The custom item's text is a caption; the panel shows the rate as it shows any other.
    s.baudRate = ui->BaudRateComboBox->currentIndex() == kirt::CustomBaudIndex
                     ? QString::number(port().settings().baudRate)
                     : ui->BaudRateComboBox->currentText();
    s.dataBits = ui->DataBitsComboBox->currentText();
    s.stopBits = ui->StopBitsComboBox->currentText();
    s.parity = ui->ParityBitsComboBox->currentText();
    s.displayFormat = ui->DisplayFormatComboBox->currentText();
    s.echo = ui->EchoOnOffComboBox->currentText();
    s.newLineEnabled = rx().newLineEnabled;
    s.autoIntervalMs = m_transmit.autoIntervalMs;
    s.autoRunning = m_autoTransIntervalTimer->isActive();
    s.autoLine = m_transmit.autoCycle.currentLine().value_or(0);
    const auto panels = kirt::ComposeStatusLine(s);
    QLabel* labels[] = {ui->StatusPanel0, ui->StatusPanel1, ui->StatusPanel2, ui->StatusPanel3,
                        ui->StatusPanel4};
    for (std::size_t i = 0; i < panels.size(); ++i)
        labels[i]->setText(panels[i]);
}

// Display settings.

void TFmain::DisplayFormatComboBoxClick()
{
    const int index = m_ui->DisplayFormatComboBox->currentIndex();
    m_searchBar->setHexDisplay(index == 0);
    if (index != m_typing.lastDisplayFormat) {
        m_typing.lastDisplayFormat = index;
        clearDisplay();
        m_typing.hexKeyPair.count = 0;
        if (shown(m_ui->mMessage))
            m_ui->mMessage->setFocus();
        UpdateStatusLine();
    }
    if (index == 0) {
        m_ui->ConditionComboBox->setCurrentIndex(0);
        m_ui->ConditionComboBox->setEnabled(false);
    } else if (index == 1) {
        m_ui->ConditionComboBox->setEnabled(true);
    }
}

void TFmain::NewLineCharEditChange()
{
    QLineEdit* edit = m_ui->NewLineCharEdit;
    const QString text = edit->text();
    // The limit holds typing and pasting only: a longer stored text stays whole.
    edit->setMaxLength(std::max<int>(m_typing.newLineLimit, static_cast<int>(text.size())));
    // The first two digits count, so a stored "0D0A" still starts a row at 0D.
    rx().newLineChar = text.size() >= 2 ? kirt::DecodeHexPair(text[0].unicode(), text[1].unicode())
                                        : std::uint8_t{0};
    rx().newLineEnabled = rx().newLineChar != 0;
    UpdateStatusLine();
}

void TFmain::ScrollBarComboBoxClick()
{
    const int index = m_ui->ScrollBarComboBox->currentIndex();
    if (index == 0) {
        m_ui->mMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_ui->LineLimitComboBox->setEnabled(false);
        m_ui->LineLimitComboBox->setCurrentIndex(0);
    } else if (index == 1) {
        m_ui->mMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_ui->LineLimitComboBox->setEnabled(true);
    }
    LineLimitComboBoxClick();
}

void TFmain::LineLimitComboBoxClick()
{
    kirt::tableEntry(kirt::LineLimitTable, m_ui->LineLimitComboBox->currentIndex(), rx().lineLimit);
}

void TFmain::ColorComboBoxClick()
{
    const int index = m_ui->ColorComboBox->currentIndex();
    if (index != 0 && index != 1)
        return;
    QPalette p = m_ui->mMessage->palette();
    p.setColor(QPalette::Base, index == 0 ? Qt::white : Qt::black);
    p.setColor(QPalette::Text, index == 0 ? Qt::black : Qt::white);
    m_ui->mMessage->setPalette(p);
    // Sent data stands apart from received text on either background.
    m_display->setSentColour(index == 0 ? QColor(0, 0, 192) : QColor(255, 200, 0));
    // A monitor port's bytes stand apart from both.
    m_display->setMonitorColour(index == 0 ? QColor(0, 128, 0) : QColor(0, 220, 255));
    m_terminal->screen()->setColours(index == 0 ? Qt::black : Qt::white,
                                     index == 0 ? Qt::white : Qt::black);
}

void TFmain::CLEAR_BitBtnClick()
{
    // In front, the terminal is what the CLEAR key clears (scroll-back too); the display keeps
    // its rows.
    if (terminalInFront()) {
        m_terminal->screen()->clearTerminal();
        return;
    }
    clearDisplay();
    m_typing.hexKeyPair.count = 0;
    if (shown(m_ui->mMessage))
        m_ui->mMessage->setFocus();
}

// Views: exactly one of the four is in front.

void TFmain::setViewButtonColours(QWidget* blue)
{
    for (QWidget* button : {static_cast<QWidget*>(m_ui->ReceiveView_BitBtn),
                            static_cast<QWidget*>(m_ui->OPTION_BitBtn),
                            static_cast<QWidget*>(m_ui->TransmitDataView_BitBtn),
                            static_cast<QWidget*>(m_ui->ProtocolData_BitBtn),
                            static_cast<QWidget*>(m_ui->PlotView_BitBtn),
                            static_cast<QWidget*>(m_ui->TerminalView_BitBtn)})
        setCaptionColour(button, button == blue ? QColor(Qt::blue) : QColor(Qt::black));
}

void TFmain::bringViewToFront(QWidget* view, QWidget* viewButton)
{
    Ui::TFmain* ui = m_ui.get();
    // The info bar belongs to the display, the settings pages, the plot and the terminal, not
    // to the boards.
    ui->InfoPanel1->setVisible(view == ui->mMessage || view == ui->OptionPageControl ||
                               view == m_plotPanel || view == m_terminal);
    for (QWidget* each : {static_cast<QWidget*>(ui->mMessage), ui->BoardPanel1, ui->BoardPanel2,
                          static_cast<QWidget*>(ui->OptionPageControl),
                          static_cast<QWidget*>(m_plotPanel), static_cast<QWidget*>(m_terminal)})
        each->setVisible(each == view);
    // The search belongs to the display.
    if (view != ui->mMessage)
        m_searchBar->hide();
    setViewButtonColours(viewButton);
}

void TFmain::ShowReceiveView()
{
    bringViewToFront(m_ui->mMessage, m_ui->ReceiveView_BitBtn);
}

void TFmain::ReceiveView_BitBtnClick()
{
    ShowReceiveView();
    m_ui->mMessage->setFocus();
}

void TFmain::OPTION_BitBtnClick()
{
    // Already in front: the page the user chose stays chosen.
    if (shown(m_ui->OptionPageControl))
        return;
    m_ui->OptionPageControl->setCurrentIndex(0);
    bringViewToFront(m_ui->OptionPageControl, m_ui->OPTION_BitBtn);
}

void TFmain::TransmitDataView_BitBtnClick()
{
    if (!shown(m_ui->BoardPanel1))
        bringViewToFront(m_ui->BoardPanel1, m_ui->TransmitDataView_BitBtn);
    m_transmitRows.row(1).edit->setFocus();
}

void TFmain::PlotView_BitBtnClick()
{
    if (!shown(m_plotPanel))
        bringViewToFront(m_plotPanel, m_ui->PlotView_BitBtn);
}

void TFmain::ProtocolData_BitBtnClick()
{
    if (!shown(m_ui->BoardPanel2))
        bringViewToFront(m_ui->BoardPanel2, m_ui->ProtocolData_BitBtn);
    m_ruleRows.row(1).receivePacket->setFocus();
}

void TFmain::centreOnScreen()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The frame is centred on the screen's free area; before the window is shown its frame
    // is not known, so the first show centres it again.
    const QRect area = screen->availableGeometry();
    // Never larger than the free area: with a large scale factor or a small screen the
    // designed size would put the menu and the status bar off-screen.
    const QSize decoration = frameGeometry().size() - size();
    const QSize fitted = kirt::fitWindowSize(size(), decoration, area.size());
    if (fitted != size()) {
        // The designed minimum gives way too, or the window could not shrink to fit.
        setMinimumSize(minimumSize().boundedTo(fitted));
        resize(fitted);
    }
    const QSize frame = frameGeometry().size();
    move(area.x() + (area.width() - frame.width()) / 2,
         area.y() + (area.height() - frame.height()) / 2);
}

void TFmain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_centring.whenShown)
        return;
    m_centring.whenShown = true;
    centreOnScreen();
    m_centring.frame = frameGeometry().size();
    // A window manager reports its frame a moment after the window appears: until then, a
    // frame that turns out larger is centred again.
    m_centring.until.setRemainingTime(1000);
}

void TFmain::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (!m_centring.until.hasExpired() && frameGeometry().size() != m_centring.frame) {
        m_centring.frame = frameGeometry().size();
        centreOnScreen();
    }
}
