// The window's handlers for the settings pages, the views, the bars and the status line.
#include "app/Umain.h"

#include "app/core/barlayout.h"
#include "app/core/statusline.h"
#include "display/displaytables.h"
#include "transmit/autotransmit.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QThread>
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

// A typed character (not a command key chord) that a key-press rule may replace or discard.
bool typedCharacter(const QKeyEvent* event, char16_t& key)
{
    const QString text = event->text();
    if (text.size() != 1)
        return false;
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return false;
    key = text[0].unicode();
    return true;
}

} // namespace

void TFmain::connectControls()
{
    Ui::TFmain* ui = m_ui.get();
    connect(ui->SerialPortComboBox, &QComboBox::activated, this, &TFmain::SerialPortComboBoxClick);
    connect(ui->BaudRateComboBox, &QComboBox::activated, this, &TFmain::BaudRateComboBoxClick);
    connect(ui->DataBitsComboBox, &QComboBox::activated, this, &TFmain::DataBitsComboBoxClick);
    connect(ui->StopBitsComboBox, &QComboBox::activated, this, &TFmain::StopBitsComboBoxClick);
    connect(ui->ParityBitsComboBox, &QComboBox::activated, this, &TFmain::ParityBitsComboBoxClick);
    connect(ui->TimeOutComboBox, &QComboBox::activated, this, &TFmain::TimeOutComboBoxClick);
    connect(ui->DisplayFormatComboBox, &QComboBox::activated, this,
            &TFmain::DisplayFormatComboBoxClick);
    connect(ui->NewLineCharEdit, &QLineEdit::textChanged, this, &TFmain::NewLineCharEditChange);
    connect(ui->ScrollBarComboBox, &QComboBox::activated, this, &TFmain::ScrollBarComboBoxClick);
    connect(ui->LineLimitComboBox, &QComboBox::activated, this, &TFmain::LineLimitComboBoxClick);
    connect(ui->ColorComboBox, &QComboBox::activated, this, &TFmain::ColorComboBoxClick);
    // The log options re-apply the display's scroll bar and line limit when chosen.
    connect(ui->TimeLogComboBox, &QComboBox::activated, this, &TFmain::ScrollBarComboBoxClick);
    connect(ui->ConditionComboBox, &QComboBox::activated, this, &TFmain::LineLimitComboBoxClick);
    connect(ui->TrackBar1, &QSlider::valueChanged, this, &TFmain::TrackBar1Change);

    connect(ui->COM_BitBtn, &QPushButton::clicked, this, &TFmain::COM_BitBtnClick);
    connect(ui->SendStopBtn, &QPushButton::clicked, this, &TFmain::SendStopBtnClick);
    connect(m_display, &ReceiveDisplay::rowsReflowed, this, &TFmain::TrimDisplayLines);
    connect(ui->CLEAR_BitBtn, &QPushButton::clicked, this, &TFmain::CLEAR_BitBtnClick);
    connect(ui->ReceiveView_BitBtn, &QPushButton::clicked, this, &TFmain::ReceiveView_BitBtnClick);
    connect(ui->OPTION_BitBtn, &QPushButton::clicked, this, &TFmain::OPTION_BitBtnClick);
    connect(ui->TransmitDataView_BitBtn, &QPushButton::clicked, this,
            &TFmain::TransmitDataView_BitBtnClick);
    connect(ui->ProtocolData_BitBtn, &QPushButton::clicked, this,
            &TFmain::ProtocolData_BitBtnClick);

    for (int n = 1; n <= TransmitRows; ++n) {
        const auto i = static_cast<std::size_t>(n);
        DataLineEdit* edit = m_transmitEdit[i];
        connect(edit, &QPlainTextEdit::selectionChanged, this,
                [this, n] { TransmitEditSelectionChange(n); });
        connect(edit, &QPlainTextEdit::cursorPositionChanged, this,
                [this, n] { TransmitEditSelectionChange(n); });
        connect(edit, &QPlainTextEdit::textChanged, this, [this, n] { TransmitEditChange(n); });
        connect(m_transmitFormat[i], &QComboBox::activated, this,
                [this, n] { TransmitFormatComboBoxClick(n); });
        edit->installEventFilter(this);
    }
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto i = static_cast<std::size_t>(n);
        connect(m_protocolFormat[i], &QComboBox::activated, this,
                [this, n] { ProtocolFormatComboBoxClick(n); });
        connect(m_protocolEnable[i], &QComboBox::activated, this,
                [this, n] { EnableProtocolRule(n); });
        connect(m_rxEdit[i], &QPlainTextEdit::textChanged, this,
                [this, n] { ParseReceivePacket(n); });
        connect(m_txEdit[i], &QPlainTextEdit::textChanged, this,
                [this, i] { m_txEdit[i]->keepLastLine(); });
    }

    ui->Panel3->installEventFilter(this);
    ui->Panel1->installEventFilter(this);
    ui->mMessage->installEventFilter(this);
}

void TFmain::installKeyFilters()
{
    for (int n = 1; n <= TransmitRows; ++n)
        m_transmitEdit[static_cast<std::size_t>(n)]->setKeyFilter(
            [this](char16_t key) { return EditKeyPress(key); });
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto filter = [this, n](char16_t key) { return FilterProtocolKey(n, key); };
        m_rxEdit[static_cast<std::size_t>(n)]->setKeyFilter(filter);
        m_txEdit[static_cast<std::size_t>(n)]->setKeyFilter(filter);
    }
    m_ui->NewLineCharEdit->installEventFilter(this);
    const auto bars = {m_ui->Panel3, m_ui->Panel1};
    for (QWidget* bar : bars)
        for (QAbstractButton* button : bar->findChildren<QAbstractButton*>())
            button->installEventFilter(this);
    for (QComboBox* box : findChildren<QComboBox*>())
        box->installEventFilter(this);
}

char16_t TFmain::EditKeyPress(char16_t key) const
{
    if (key == u'\r')
        return 0;
    if (m_activeTransmitFormat == kirt::DataFormat::Hex)
        return kirt::FilterHexDigitKey(key);
    return key;
}

char16_t TFmain::ComboBoxKeyPress(char16_t)
{
    // No item is picked by typing its first letter; arrows and the mouse still work.
    return 0;
}

char16_t TFmain::SerialPortSettingKeyPress(char16_t)
{
    return 0;
}

bool TFmain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        char16_t ch = 0;
        if (!typedCharacter(key, ch))
            break;
        if (qobject_cast<QComboBox*>(watched)) {
            const bool board = watched->objectName().startsWith(QLatin1String("Transmit")) ||
                               watched->objectName().startsWith(QLatin1String("CRLF")) ||
                               watched->objectName().startsWith(QLatin1String("Protocol"));
            return (board ? ComboBoxKeyPress(ch) : SerialPortSettingKeyPress(ch)) == 0;
        }
        if (watched == m_ui->NewLineCharEdit) {
            const char16_t filtered = EditKeyPress(ch);
            if (filtered == ch)
                break;
            if (filtered != 0)
                m_ui->NewLineCharEdit->insert(QString(QChar(filtered)));
            return true;
        }
        if (qobject_cast<QAbstractButton*>(watched))
            return EditKeyPress(ch) == 0 && ch == u'\r';
        if (watched == m_ui->mMessage)
            return mMessageKeyPress(ch);
        break;
    }
    case QEvent::FocusIn:
        for (int n = 1; n <= TransmitRows; ++n)
            if (watched == m_transmitEdit[static_cast<std::size_t>(n)]) {
                TransmitEditEnter(n);
                // The caret shows up in the line: typing there follows the line's format.
                TransmitEditSelectionChange(n);
            }
        break;
    case QEvent::Resize:
        if (watched == m_ui->Panel3)
            Panel3CanResize();
        else if (watched == m_ui->Panel1)
            Panel1CanResize();
        else if (watched == m_ui->mMessage)
            FormResize();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

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
        ui->Panel1->width(), ui->ProtocolData_BitBtn->geometry(), ui->BitBtn19->geometry()));
}

void TFmain::UpdateStatusLine()
{
    Ui::TFmain* ui = m_ui.get();
    kirt::StatusLineState s;
    s.port = ui->SerialPortComboBox->currentText();
    s.baudRate = ui->BaudRateComboBox->currentText();
    s.dataBits = ui->DataBitsComboBox->currentText();
    s.stopBits = ui->StopBitsComboBox->currentText();
    s.parity = ui->ParityBitsComboBox->currentText();
    s.displayFormat = ui->DisplayFormatComboBox->currentText();
    s.echo = ui->EchoOnOffComboBox->currentText();
    s.newLineEnabled = m_newLineEnabled;
    s.autoIntervalMs = m_autoIntervalMs;
    s.autoRunning = m_autoTransIntervalTimer->isActive();
    s.autoLine = m_autoCycle.currentLine().value_or(0);
    const auto panels = kirt::ComposeStatusLine(s);
    QLabel* labels[] = {ui->StatusPanel0, ui->StatusPanel1, ui->StatusPanel2, ui->StatusPanel3,
                        ui->StatusPanel4};
    for (std::size_t i = 0; i < panels.size(); ++i)
        labels[i]->setText(panels[i]);
}

// Line settings: recorded only; an open port keeps its state until it is opened again.

void TFmain::SerialPortComboBoxClick()
{
    m_comSettings.portName = m_ui->SerialPortComboBox->currentText();
    showPortDevice();
}

void TFmain::BaudRateComboBoxClick()
{
    kirt::tableEntry(kirt::BaudRateTable, m_ui->BaudRateComboBox->currentIndex(),
                     m_comSettings.baudRate);
}

void TFmain::DataBitsComboBoxClick()
{
    const int index = m_ui->DataBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.dataBits = static_cast<std::uint8_t>(index + 4);
}

void TFmain::StopBitsComboBoxClick()
{
    const int index = m_ui->StopBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.stopBits = static_cast<std::uint8_t>(index);
}

void TFmain::ParityBitsComboBoxClick()
{
    const int index = m_ui->ParityBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.parity = static_cast<std::uint8_t>(index);
}

void TFmain::TimeOutComboBoxClick()
{
    kirt::tableEntry(kirt::ReadTimeoutTable, m_ui->TimeOutComboBox->currentIndex(),
                     m_comSettings.readTimeoutMs);
}

// Display settings.

void TFmain::DisplayFormatComboBoxClick()
{
    const int index = m_ui->DisplayFormatComboBox->currentIndex();
    if (index != m_lastDisplayFormat) {
        m_lastDisplayFormat = index;
        CLEAR_BitBtnClick();
        m_hexKeyPairCount = 0;
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
    const QString text = m_ui->NewLineCharEdit->text();
    m_newLineChar = text.size() >= 2 ? kirt::DecodeHexPair(text[0].unicode(), text[1].unicode())
                                     : std::uint8_t{0};
    m_newLineEnabled = m_newLineChar != 0;
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
    kirt::tableEntry(kirt::LineLimitTable, m_ui->LineLimitComboBox->currentIndex(),
                     m_displayLineLimit);
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
}

void TFmain::CLEAR_BitBtnClick()
{
    clearDisplay();
    m_hexKeyPairCount = 0;
    if (shown(m_ui->mMessage))
        m_ui->mMessage->setFocus();
}

// Views: exactly one of the four is in front.

void TFmain::setViewButtonColours(QWidget* blue)
{
    for (QWidget* button : {static_cast<QWidget*>(m_ui->ReceiveView_BitBtn),
                            static_cast<QWidget*>(m_ui->OPTION_BitBtn),
                            static_cast<QWidget*>(m_ui->TransmitDataView_BitBtn),
                            static_cast<QWidget*>(m_ui->ProtocolData_BitBtn)})
        setCaptionColour(button, button == blue ? QColor(Qt::blue) : QColor(Qt::black));
}

void TFmain::ShowReceiveView()
{
    m_ui->InfoPanel1->show();
    m_ui->mMessage->show();
    m_ui->BoardPanel1->hide();
    m_ui->BoardPanel2->hide();
    m_ui->OptionPageControl->hide();
    setViewButtonColours(m_ui->ReceiveView_BitBtn);
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
    m_ui->InfoPanel1->show();
    m_ui->mMessage->hide();
    m_ui->BoardPanel1->hide();
    m_ui->BoardPanel2->hide();
    m_ui->OptionPageControl->setCurrentIndex(0);
    m_ui->OptionPageControl->show();
    setViewButtonColours(m_ui->OPTION_BitBtn);
}

void TFmain::TransmitDataView_BitBtnClick()
{
    if (!shown(m_ui->BoardPanel1)) {
        m_ui->InfoPanel1->hide();
        m_ui->mMessage->hide();
        m_ui->BoardPanel1->show();
        m_ui->BoardPanel2->hide();
        m_ui->OptionPageControl->hide();
        setViewButtonColours(m_ui->TransmitDataView_BitBtn);
    }
    m_ui->TransmitEdit1->setFocus();
}

void TFmain::ProtocolData_BitBtnClick()
{
    if (!shown(m_ui->BoardPanel2)) {
        m_ui->InfoPanel1->hide();
        m_ui->mMessage->hide();
        m_ui->BoardPanel1->hide();
        m_ui->BoardPanel2->show();
        m_ui->OptionPageControl->hide();
        setViewButtonColours(m_ui->ProtocolData_BitBtn);
    }
    m_ui->RxEdit1->setFocus();
}

// Transmit lines.

void TFmain::SetTransmitFormat(int n)
{
    const auto i = static_cast<std::size_t>(n);
    m_transmitLineFormat[i] = kirt::dataFormatFromIndex(m_transmitFormat[i]->currentIndex());
    m_transmitEdit[i]->setMaxLength(kirt::fieldLimit(m_transmitLineFormat[i]));
    // An empty line stays untouched, so its caret does not move (the key filter keeps the
    // previous format until the user moves in a line).
    if (m_transmitLineFormat[i] != m_activeTransmitFormat &&
        !m_transmitEdit[i]->document()->isEmpty())
        m_transmitEdit[i]->clear();
    UpdateStatusLine();
}

void TFmain::TransmitFormatComboBoxClick(int n)
{
    m_activeTransmitFormat = m_transmitLineFormat[static_cast<std::size_t>(n)];
    SetTransmitFormat(n);
}

void TFmain::TransmitEditSelectionChange(int n)
{
    m_activeTransmitFormat = m_transmitLineFormat[static_cast<std::size_t>(n)];
}

void TFmain::TransmitEditEnter(int n)
{
    m_currentTransmitLine = n;
}

void TFmain::TransmitEditChange(int n)
{
    m_transmitEdit[static_cast<std::size_t>(n)]->keepLastLine();
}

// Auto-transmit interval.

void TFmain::TrackBar1Change()
{
    const int position = m_ui->TrackBar1->value();
    const int ms = kirt::autoIntervalMs(position);
    m_ui->AutoTimeValue->setText(kirt::autoTimeCaption(position));
    m_autoIntervalMs = ms;
    if (m_autoTransIntervalTimer->isActive()) {
        // The interval restarts from now; the place in the cycle is kept.
        m_autoTransIntervalTimer->stop();
        m_autoTransIntervalTimer->setInterval(m_autoIntervalMs);
        QThread::msleep(100);
        m_autoTransIntervalTimer->start();
    }
    UpdateStatusLine();
}
