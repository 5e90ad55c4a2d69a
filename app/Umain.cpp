#include "app/Umain.h"

#include "app/monitorhost.h"

#include "app/dialogs.h"
#include "app/keypreview.h"
#include "app/transferhost.h"
#include "config/profile.h"
#include "display/displaytables.h"
#include "serial/portmap.h"
#include "ui/caretblink.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"
#include "ui/searchbar.h"
#include "ui_Umain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QTimer>

#include <algorithm>
#include <exception>

bool RefuseNextClose = false;

namespace {

const QString ApplicationTitle = QStringLiteral("Kirt");

template <typename T> T* child(QObject* parent, const QString& name)
{
    auto* found = parent->findChild<T*>(name);
    Q_ASSERT_X(found, "TFmain", qPrintable(name));
    return found;
}

QTimer* makeTimer(QObject* parent, const char* name, int intervalMs)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    return timer;
}

// The line settings' boxes show the names of the one table scripts and messages use too (the
// layout's own items are there for the designer), at the settings' defaults.
void fillLineSettingBoxes(Ui::TFmain& ui)
{
    const kirt::ComSettings defaults;
    const auto fill = [](QComboBox* box, const QStringList& items, int index) {
        box->clear();
        box->addItems(items);
        box->setCurrentIndex(index);
    };
    fill(ui.DataBitsComboBox, kirt::dataBitsBoxItems(), kirt::dataBitsIndex(defaults.dataBits));
    fill(ui.StopBitsComboBox, kirt::choiceBoxItems<kirt::StopBits>(),
         kirt::choiceIndex(defaults.stopBits));
    fill(ui.ParityBitsComboBox, kirt::choiceBoxItems<kirt::Parity>(),
         kirt::choiceIndex(defaults.parity));
    fill(ui.FlowControlComboBox, kirt::choiceBoxItems<kirt::FlowControl>(),
         kirt::choiceIndex(defaults.flowControl));
}

} // namespace

TFmain::TFmain(QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::TFmain>()),
      m_profile(std::make_unique<kirt::ProfileClaim>(kirt::currentProfile()))
{
    // The layout asks for "Courier New"; Liberation Mono has the same metrics.
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    m_ui->setupUi(this);
    fillLineSettingBoxes(*m_ui);
    m_display = m_ui->mMessage;
    // Above the display, over the whole width; hidden until Find.
    m_searchBar = new kirt::SearchBar(m_display, m_ui->ClientArea);
    m_ui->ClientAreaLayout->addWidget(m_searchBar, 0, 0);
    m_ports.push_back(std::make_unique<kirt::PortController>(
        kirt::systemPortFactory(), m_display, static_cast<kirt::ReceiveOutput*>(this), this));
    m_monitor = std::make_unique<kirt::MonitorHost>(*this, *m_ui, port());
    // The selection watch ticks 50 ms after a change to what it watches rather than every
    // 50 ms: the buttons follow as quickly, and an untouched window costs nothing.
    m_timer1 = makeTimer(this, "Timer1", 50);
    m_timer1->setSingleShot(true);
    m_autoTransIntervalTimer = makeTimer(this, "AutoTransIntervalTimer", 500);
    // A coarse timer may tick up to 5% early; a device paced by these sends should never see
    // a gap shorter than the interval chosen.
    m_autoTransIntervalTimer->setTimerType(Qt::PreciseTimer);
    m_fileTransmitTimer = makeTimer(this, "FileTransmitTimer", 10);

    m_currentFileName.clear();
    SetCurrentFileName(QStringLiteral("Untitled"));

    buildRows();
    connectSignals();
    installKeyFilters();
    setUpDeviceWatch();
    setUpScripts();
    setUpPlot();
    setUpTerminal();
    m_transfers = std::make_unique<kirt::TransferHost>(
        *this, *m_ui, port(), [this](const QString& line) { showNoteLines({line}); });

    // An error inside start-up is shown and the window still comes up.
    try {
        FormCreate();
    } catch (const std::exception& e) {
        kirt::dialogs().error(this, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        kirt::dialogs().error(this, QString());
    }
    // After the start-up that empties them: the lines and rules of the last run, if kept.
    openKeptWorkbench();
}

TFmain::~TFmain()
{
    // Serve the thread's last calls into this window while it winds down, before the display
    // goes.
    ReleasePortHandle();
}

void TFmain::buildRows()
{
    Ui::TFmain* ui = m_ui.get();
    QPushButton* const sendButtons[TransmitRows] = {ui->BitBtn9,  ui->BitBtn10, ui->BitBtn11,
                                                    ui->BitBtn12, ui->BitBtn13, ui->BitBtn14,
                                                    ui->BitBtn15, ui->BitBtn16, ui->BitBtn17};
    for (int n = 1; n <= TransmitRows; ++n) {
        const QString num = QString::number(n);
        TransmitRow& row = m_transmitRows.row(n);
        row.edit = child<kirt::DataLineEdit>(this, QStringLiteral("TransmitEdit") + num);
        row.format = child<QComboBox>(this, QStringLiteral("TransmitFormatComboBox") + num);
        row.autoSend = child<QComboBox>(this, QStringLiteral("TransmitAutoComboBox") + num);
        row.crlf = child<QComboBox>(this, QStringLiteral("CRLFComboBox") + num);
        row.send = sendButtons[n - 1];
    }
    for (int n = 1; n <= ProtocolRules; ++n) {
        const QString num = QString::number(n);
        RuleRow& row = m_ruleRows.row(n);
        row.receivePacket = child<kirt::DataLineEdit>(this, QStringLiteral("RxEdit") + num);
        row.response = child<kirt::DataLineEdit>(this, QStringLiteral("TxEdit") + num);
        row.format = child<QComboBox>(this, QStringLiteral("ProtocolFormatComboBox") + num);
        row.enable = child<QComboBox>(this, QStringLiteral("ProtocolEnableComboBox") + num);
        row.responseCount = child<QLabel>(this, QStringLiteral("ResponseCountText") + num);
    }
    // The check buttons in order; a button's number is also its kind.
    m_transmit.checkButtons = {ui->Button1, ui->Button2, ui->Button3, ui->Button4,
                               ui->Button5, ui->Button6, ui->Button7, ui->Button8};
}

// Every signal of the window is connected here, once.
void TFmain::connectSignals()
{
    Ui::TFmain* ui = m_ui.get();
    using Handler = void (TFmain::*)();

    const std::pair<QComboBox*, Handler> boxes[] = {
        {ui->SerialPortComboBox, &TFmain::SerialPortComboBoxClick},
        {ui->BaudRateComboBox, &TFmain::PickBaudRate},
        {ui->DataBitsComboBox, &TFmain::DataBitsComboBoxClick},
        {ui->StopBitsComboBox, &TFmain::StopBitsComboBoxClick},
        {ui->ParityBitsComboBox, &TFmain::ParityBitsComboBoxClick},
        {ui->FlowControlComboBox, &TFmain::FlowControlComboBoxClick},
        {ui->TimeOutComboBox, &TFmain::TimeOutComboBoxClick},
        {ui->DisplayFormatComboBox, &TFmain::DisplayFormatComboBoxClick},
        {ui->ScrollBarComboBox, &TFmain::ScrollBarComboBoxClick},
        {ui->LineLimitComboBox, &TFmain::LineLimitComboBoxClick},
        {ui->ColorComboBox, &TFmain::ColorComboBoxClick},
        // The log options re-apply the display's scroll bar and line limit when chosen.
        {ui->TimeLogComboBox, &TFmain::ScrollBarComboBoxClick},
        {ui->ConditionComboBox, &TFmain::LineLimitComboBoxClick},
        {ui->TerminalEnterComboBox, &TFmain::applyTerminalSettings},
        {ui->TerminalBackspaceComboBox, &TFmain::applyTerminalSettings},
        {ui->TerminalCharsetComboBox, &TFmain::applyTerminalSettings},
        {ui->TerminalEchoComboBox, &TFmain::applyTerminalSettings},
        {ui->TerminalScrollbackComboBox, &TFmain::applyTerminalSettings},
    };
    for (const auto& [box, handler] : boxes)
        connect(box, &QComboBox::activated, this, handler);

    const std::pair<QAbstractButton*, Handler> buttons[] = {
        {ui->COM_BitBtn, &TFmain::COM_BitBtnClick},
        {ui->CLEAR_BitBtn, &TFmain::CLEAR_BitBtnClick},
        {ui->ReceiveView_BitBtn, &TFmain::ReceiveView_BitBtnClick},
        {ui->OPTION_BitBtn, &TFmain::OPTION_BitBtnClick},
        {ui->TransmitDataView_BitBtn, &TFmain::TransmitDataView_BitBtnClick},
        {ui->ProtocolData_BitBtn, &TFmain::ProtocolData_BitBtnClick},
        {ui->PlotView_BitBtn, &TFmain::PlotView_BitBtnClick},
        {ui->TerminalView_BitBtn, &TFmain::TerminalView_BitBtnClick},
        {ui->SendStartBtn, &TFmain::SendStartBtnClick},
        {ui->SendStopBtn, &TFmain::SendStopBtnClick},
        {ui->AppendCheckButton, &TFmain::AppendCheckButtonClick},
        {ui->EXIT_BitBtn, &TFmain::EXIT_BitBtnClick},
        {ui->DTRButton, &TFmain::DTRButtonClick},
        {ui->RTSButton, &TFmain::RTSButtonClick},
        {ui->BreakButton, &TFmain::BreakButtonClick},
    };
    for (const auto& [button, handler] : buttons)
        connect(button, &QAbstractButton::clicked, this, handler);

    const std::pair<QAction*, Handler> menu[] = {
        {ui->FileOpen, &TFmain::FileOpenClick},
        {ui->FileSave, &TFmain::FileSaveClick},
        {ui->FileSaveAs, &TFmain::FileSaveAsClick},
        {ui->RunTimeSave1, &TFmain::RunTimeSave1Click},
        {ui->FilePrint, &TFmain::FilePrintClick},
        {ui->WorkbenchOpen, &TFmain::WorkbenchOpenClick},
        {ui->WorkbenchSave, &TFmain::WorkbenchSaveClick},
        {ui->Exit, &TFmain::ExitClick},
        {ui->UserMamual, &TFmain::UserMamualClick},
        {ui->About, &TFmain::AboutClick},
        {ui->EditCopy, &TFmain::EditCopyClick},
        {ui->EditPaste, &TFmain::EditPasteClick},
        {ui->EditSelectAll, &TFmain::EditSelectAllClick},
        {ui->EditFind, &TFmain::EditFindClick},
        {ui->RunScriptAction, &TFmain::RunScriptActionClick},
        {ui->StopScriptAction, &TFmain::StopScriptActionClick},
    };
    connect(m_display, &kirt::ReceiveDisplay::fontStepRequested, this,
            [this](int steps) { setDisplayFontSize(m_typing.fontSize + steps); });
    m_display->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_display, &QWidget::customContextMenuRequested, this, &TFmain::showDisplayMenu);
    QList<QAction*> menuActions;
    for (const auto& [action, handler] : menu) {
        connect(action, &QAction::triggered, this, handler);
        menuActions << action;
    }

    connect(ui->NewLineCharEdit, &QLineEdit::textChanged, this, &TFmain::NewLineCharEditChange);
    connect(ui->TrackBar1, &QSlider::valueChanged, this, &TFmain::TrackBar1Change);
    connect(m_timer1, &QTimer::timeout, this, &TFmain::Timer1Timer);
    connect(m_autoTransIntervalTimer, &QTimer::timeout, this, &TFmain::AutoTransIntervalTimerTimer);
    connect(m_fileTransmitTimer, &QTimer::timeout, this, &TFmain::FileTransmitTimerTimer);
    connect(&port(), &kirt::PortController::openFinished, this, &TFmain::comOpenFinished);
    connect(&port(), &kirt::PortController::opened, this, &TFmain::portOpened);
    connect(&port(), &kirt::PortController::closed, this, [this] { showComButtonOpen(false); });
    connect(&port(), &kirt::PortController::claimChanged, this, &TFmain::showClaim);
    connect(&port(), &kirt::PortController::writeHeld, this, [this] { showClaim(true); });
    connect(&port().session(), &kirt::PortSession::modemStatusChanged, this,
            &TFmain::showModemStatus);
    // Dropped writes are counted on the information bar; like the receive path's other
    // troubles they never raise a box.
    connect(&port().session(), &kirt::PortSession::writeDropped, this, [this] {
        m_ui->TxDroppedLabel->setText(
            QStringLiteral(" TX dropped: %1").arg(port().session().txDropped()));
        m_ui->TxDroppedLabel->show();
    });
    const auto syncFollow = [this] {
        m_display->setFollow(m_ui->FollowComboBox->currentIndex() == 1
                                 ? kirt::ReceiveDisplay::Follow::AtEnd
                                 : kirt::ReceiveDisplay::Follow::Always);
    };
    connect(ui->FollowComboBox, &QComboBox::currentIndexChanged, this, syncFollow);
    connect(m_display, &kirt::ReceiveDisplay::heldBackChanged, ui->FollowLabel,
            &QWidget::setVisible);
    // What the receive pipeline reads for every byte follows its controls, however they
    // change.
    for (QComboBox* box : {ui->DisplayFormatComboBox, ui->EchoOnOffComboBox, ui->ConditionComboBox,
                           ui->TimeLogComboBox, ui->TimeStampComboBox, ui->GapSplitComboBox})
        connect(box, &QComboBox::currentIndexChanged, this, &TFmain::syncReceiveSettings);

    for (int n = 1; n <= TransmitRows; ++n) {
        const TransmitRow& row = m_transmitRows.row(n);
        connect(row.edit, &QPlainTextEdit::selectionChanged, this,
                [this, n] { TransmitEditSelectionChange(n); });
        connect(row.edit, &QPlainTextEdit::cursorPositionChanged, this,
                [this, n] { TransmitEditSelectionChange(n); });
        connect(row.edit, &QPlainTextEdit::textChanged, this, [this, n] { TransmitEditChange(n); });
        connect(row.format, &QComboBox::activated, this,
                [this, n] { TransmitFormatComboBoxClick(n); });
        connect(row.autoSend, &QComboBox::activated, this, &TFmain::TransmitAutoComboBoxClick);
        connect(row.send, &QPushButton::clicked, this, [this, n] { SendButtonClick(n); });
    }
    // Button3 and Button4 have no check and stay unconnected.
    for (const int kind : {1, 2, 5, 6, 7, 8})
        connect(m_transmit.checkButtons[static_cast<std::size_t>(kind - 1)], &QPushButton::clicked,
                this, [this, kind] { ComputeChecksum(kind); });

    for (int n = 1; n <= ProtocolRules; ++n) {
        const RuleRow& row = m_ruleRows.row(n);
        connect(row.format, &QComboBox::activated, this,
                [this, n] { ProtocolFormatComboBoxClick(n); });
        connect(row.enable, &QComboBox::activated, this, [this, n] { EnableProtocolRule(n); });
        connect(row.receivePacket, &QPlainTextEdit::textChanged, this,
                [this, n] { ParseReceivePacket(n); });
        kirt::DataLineEdit* response = row.response;
        connect(response, &QPlainTextEdit::textChanged, this,
                [response] { response->keepLastLine(); });
        // After the line is kept: the rule sends what the field ends up holding.
        connect(response, &QPlainTextEdit::textChanged, this, [this, n] { syncRule(n); });
        for (QComboBox* box : {row.format, row.enable})
            connect(box, &QComboBox::currentIndexChanged, this, [this, n] { syncRule(n); });
    }

    m_keyPreview = std::make_unique<kirt::KeyPreview>(
        *this, *m_display, menuActions,
        kirt::KeyPreview::Handlers{
            [this](int& key, Qt::KeyboardModifiers modifiers) { FormKeyDown(key, modifiers); },
            [this](char16_t key) { return mMessageKeyPress(key); },
            [this](const QWidget* control) { return terminalTakesKeys(control); }});
    qApp->installEventFilter(m_keyPreview.get());
    new kirt::CaretBlink(this);
}

// The typed-key rules of the controls, and the window's own watch over resizes and focus.
void TFmain::installKeyFilters()
{
    // A hex dump pasted into a HEX field loses its separators; an ASC field takes it as it is.
    const auto pasteRule = [](kirt::DataFormat format, const QString& text) {
        return format == kirt::DataFormat::Hex ? kirt::StripHexDumpSeparators(text) : text;
    };
    for (int n = 1; n <= TransmitRows; ++n)
        m_transmitRows.row(n).edit->setPasteFilter([this, n, pasteRule](const QString& text) {
            return pasteRule(m_transmitRows.row(n).lineFormat, text);
        });
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto filter = [this, n, pasteRule](const QString& text) {
            return pasteRule(kirt::dataFormatFromIndex(m_ruleRows.row(n).format->currentIndex()),
                             text);
        };
        m_ruleRows.row(n).receivePacket->setPasteFilter(filter);
        m_ruleRows.row(n).response->setPasteFilter(filter);
    }
    for (TransmitRow& row : m_transmitRows) {
        row.edit->setKeyFilter([this](char16_t key) { return EditKeyPress(key); });
        row.edit->installEventFilter(this);
    }
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto filter = [this, n](char16_t key) { return FilterProtocolKey(n, key); };
        m_ruleRows.row(n).receivePacket->setKeyFilter(filter);
        m_ruleRows.row(n).response->setKeyFilter(filter);
    }

    auto* boardBoxes = new kirt::TypedKeyFilter(&TFmain::ComboBoxKeyPress, this);
    auto* settingBoxes = new kirt::TypedKeyFilter(&TFmain::SerialPortSettingKeyPress, this);
    QList<QComboBox*> onBoards;
    for (const TransmitRow& row : m_transmitRows)
        onBoards << row.format << row.autoSend << row.crlf;
    for (const RuleRow& row : m_ruleRows)
        onBoards << row.format << row.enable;
    for (QComboBox* box : findChildren<QComboBox*>())
        box->installEventFilter(onBoards.contains(box) ? boardBoxes : settingBoxes);

    m_ui->NewLineCharEdit->installEventFilter(this);
    for (QWidget* bar : {m_ui->Panel3, m_ui->Panel1}) {
        bar->installEventFilter(this);
        for (QAbstractButton* button : bar->findChildren<QAbstractButton*>())
            button->installEventFilter(this);
    }
    m_ui->mMessage->installEventFilter(this);
}

bool TFmain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (filterTypedKey(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::InputMethod:
        if (watched == m_ui->NewLineCharEdit)
            filterNewLineCommit(static_cast<QInputMethodEvent*>(event));
        break;
    case QEvent::FocusIn:
        for (int n = 1; n <= TransmitRows; ++n)
            if (watched == m_transmitRows.row(n).edit) {
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

void TFmain::FormCreate()
{
    centreOnScreen();
    for (int n = 1; n <= TransmitRows; ++n) {
        m_transmitRows.row(n).format->setCurrentIndex(0);
        SetTransmitFormat(n);
    }
    for (TransmitRow& row : m_transmitRows)
        row.autoSend->setCurrentIndex(0);
    for (TransmitRow& row : m_transmitRows)
        row.crlf->setCurrentIndex(0);
    for (RuleRow& row : m_ruleRows) {
        row.format->setCurrentIndex(0);
        row.enable->setCurrentIndex(0);
    }
    for (int n = 1; n <= ProtocolRules; ++n)
        ProtocolFormatComboBoxClick(n);
    resetProtocolState();
    rx().newLineChar = 0;
    rx().newLineEnabled = false;
    resetReceiveBuffer();

    RestoreSettings();

    SerialPortComboBoxClick();
    BaudRateComboBoxClick();
    DataBitsComboBoxClick();
    StopBitsComboBoxClick();
    ParityBitsComboBoxClick();
    FlowControlComboBoxClick();
    UpdateStatusLine();
    m_typing.newLineLimit = 2;
    NewLineCharEditChange();
    ScrollBarComboBoxClick();
    ColorComboBoxClick();
    applyTerminalSettings();
    TrackBar1Change();
    m_transmit.autoCycle.rebuild({});
    m_autoTransIntervalTimer->stop();
    m_typing.lastDisplayFormat = m_ui->DisplayFormatComboBox->currentIndex();
    port().settings().readTimeoutMs = 2;
    m_ui->TimeOutComboBox->setCurrentIndex(1);
    clearDisplay();
    for (RuleRow& row : m_ruleRows) {
        row.receivePacket->clear();
        row.response->clear();
        row.response->setMaxLength(kirt::HexFieldLimit);
        row.receivePacket->setMaxLength(kirt::HexFieldLimit);
    }
    for (TransmitRow& row : m_transmitRows) {
        row.edit->clear();
        row.edit->setMaxLength(kirt::HexFieldLimit);
    }
    m_ui->DownloadPanel->hide();
    // Start-up names TempEdit, so it stays in the layout; nothing reads it (the log goes
    // straight to its file).
    m_ui->TempEdit->hide();
    rx().logging = false;
    m_ui->RxMemoryFull->hide();
    m_ui->TxDroppedLabel->hide();
    m_ui->FollowLabel->hide();
    ShowReceiveView();
    DisplayFormatComboBoxClick();
    const QFont courier(QStringLiteral("Courier New"), DesignedFontSize);
    setFont(courier);
    m_ui->TempEdit->setFont(courier);
    setDisplayFontSize(m_typing.fontSize);
    showModemStatus({});
    syncReceiveSettings();
    for (int n = 1; n <= ProtocolRules; ++n)
        syncRule(n);
}

void TFmain::SetCurrentFileName(const QString& path)
{
    QString title = ApplicationTitle;
    if (!m_profile->name().isEmpty())
        title += QStringLiteral(" [%1]").arg(m_profile->name());
    title += QStringLiteral(" - ") + QFileInfo(path).fileName();
    if (!m_profile->owned())
        title += QStringLiteral(" (already open in another window: settings not saved)");
    setWindowTitle(title);
    m_currentFileName = path;
}

void TFmain::FormResize()
{
    if (m_ui->ScrollBarComboBox->currentIndex() != 0)
        return;
    // The rows that fit are counted at the designed size: a larger font fits fewer.
    rx().lineLimit =
        kirt::LineLimitForHeight(m_ui->mMessage->height() * DesignedFontSize / m_typing.fontSize);
}

void TFmain::setDisplayFontSize(int points)
{
    m_typing.fontSize = std::clamp(points, MinFontSize, MaxFontSize);
    m_ui->mMessage->setFont(QFont(QStringLiteral("Courier New"), m_typing.fontSize));
    FormResize();
}

bool TFmain::FormCloseQuery()
{
    return true;
}

bool TFmain::FormClose()
{
    bool goAhead = true;
    if (RefuseNextClose) {
        RefuseNextClose = false;
        goAhead = false;
    }
    if (goAhead && portOpen())
        ReleasePortHandle();
    SaveSettings();
    if (goAhead)
        saveKeptWorkbench();
    return goAhead;
}

void TFmain::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery() || !FormClose()) {
        event->ignore();
        return;
    }
    event->accept();
}
