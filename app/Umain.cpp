#include "app/Umain.h"

#include "app/core/settingsstore.h"
#include "app/dialogs.h"
#include "display/displaytables.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

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

} // namespace

TFmain::TFmain(QWidget* parent) : QMainWindow(parent), m_ui(std::make_unique<Ui::TFmain>())
{
    // The layout asks for "Courier New"; Liberation Mono has the same metrics.
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    m_ui->setupUi(this);
    m_display = m_ui->mMessage;
    m_timer1 = makeTimer(this, "Timer1", 50);
    m_autoTransIntervalTimer = makeTimer(this, "AutoTransIntervalTimer", 500);
    m_fileTransmitTimer = makeTimer(this, "FileTransmitTimer", 10);

    m_currentFileName.clear();
    SetCurrentFileName(QStringLiteral("Untitled"));

    buildRowTables();
    connectControls();
    connectKeys();
    connectTransmit();
    connectFiles();
    installKeyFilters();

    // An error inside start-up is shown and the window still comes up.
    try {
        FormCreate();
    } catch (const std::exception& e) {
        dialogs().error(this, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        dialogs().error(this, QString());
    }
}

TFmain::~TFmain()
{
    // Serve the thread's last calls into this window while it winds down.
    if (m_receiveThread)
        m_receiveThread->requestInterruption();
    if (m_port) {
        m_port->purge();
        m_port->close();
    }
    TReceiveComThread::stopAndWait(m_receiveThread);
}

void TFmain::buildRowTables()
{
    for (int n = 1; n <= TransmitRows; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const QString num = QString::number(n);
        m_transmitEdit[i] = child<DataLineEdit>(this, QStringLiteral("TransmitEdit") + num);
        m_transmitFormat[i] =
            child<QComboBox>(this, QStringLiteral("TransmitFormatComboBox") + num);
        m_transmitAuto[i] = child<QComboBox>(this, QStringLiteral("TransmitAutoComboBox") + num);
        m_crlf[i] = child<QComboBox>(this, QStringLiteral("CRLFComboBox") + num);
    }
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const QString num = QString::number(n);
        m_rxEdit[i] = child<DataLineEdit>(this, QStringLiteral("RxEdit") + num);
        m_txEdit[i] = child<DataLineEdit>(this, QStringLiteral("TxEdit") + num);
        m_protocolFormat[i] =
            child<QComboBox>(this, QStringLiteral("ProtocolFormatComboBox") + num);
        m_protocolEnable[i] =
            child<QComboBox>(this, QStringLiteral("ProtocolEnableComboBox") + num);
        m_responseCountText[i] = child<QLabel>(this, QStringLiteral("ResponseCountText") + num);
    }
}

void TFmain::centreOnScreen()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize s = screen->size();
    // Integer division truncates toward zero, as a window larger than the screen needs.
    move((s.width() - width()) / 2, (s.height() - height()) / 2);
}

void TFmain::FormCreate()
{
    centreOnScreen();
    for (int n = 1; n <= TransmitRows; ++n) {
        m_transmitFormat[static_cast<std::size_t>(n)]->setCurrentIndex(0);
        SetTransmitFormat(n);
    }
    for (int n = 1; n <= TransmitRows; ++n)
        m_transmitAuto[static_cast<std::size_t>(n)]->setCurrentIndex(0);
    for (int n = 1; n <= TransmitRows; ++n)
        m_crlf[static_cast<std::size_t>(n)]->setCurrentIndex(0);
    for (int n = 1; n <= ProtocolRules; ++n) {
        m_protocolFormat[static_cast<std::size_t>(n)]->setCurrentIndex(0);
        m_protocolEnable[static_cast<std::size_t>(n)]->setCurrentIndex(0);
    }
    for (int n = 1; n <= ProtocolRules; ++n)
        ProtocolFormatComboBoxClick(n);
    resetProtocolState();
    m_newLineChar = 0;
    m_newLineEnabled = false;
    resetReceiveBuffer();

    RestoreSettings();

    SerialPortComboBoxClick();
    BaudRateComboBoxClick();
    DataBitsComboBoxClick();
    StopBitsComboBoxClick();
    ParityBitsComboBoxClick();
    UpdateStatusLine();
    m_portOpen = false;
    m_ui->NewLineCharEdit->setMaxLength(2);
    NewLineCharEditChange();
    ScrollBarComboBoxClick();
    ColorComboBoxClick();
    TrackBar1Change();
    m_autoCycle.rebuild({});
    m_autoTransIntervalTimer->stop();
    m_lastDisplayFormat = m_ui->DisplayFormatComboBox->currentIndex();
    m_comSettings.readTimeoutMs = 2;
    m_ui->TimeOutComboBox->setCurrentIndex(1);
    clearDisplay();
    for (int n = 1; n <= ProtocolRules; ++n) {
        const auto i = static_cast<std::size_t>(n);
        m_rxEdit[i]->clear();
        m_txEdit[i]->clear();
        m_txEdit[i]->setMaxLength(kirt::HexFieldLimit);
        m_rxEdit[i]->setMaxLength(kirt::HexFieldLimit);
    }
    for (int n = 1; n <= TransmitRows; ++n) {
        const auto i = static_cast<std::size_t>(n);
        m_transmitEdit[i]->clear();
        m_transmitEdit[i]->setMaxLength(kirt::HexFieldLimit);
    }
    m_ui->DownloadPanel->hide();
    m_ui->TempEdit->hide();
    m_realTimeSaveOn = false;
    m_ui->RxMemoryFull->hide();
    ShowReceiveView();
    DisplayFormatComboBoxClick();
    const QFont courier(QStringLiteral("Courier New"), 10);
    setFont(courier);
    m_ui->mMessage->setFont(courier);
    m_ui->TempEdit->setFont(courier);
    m_timer1->start();
}

bool TFmain::restoreInt(kirt::SettingsStore& store, const char* name, int& value)
{
    const QString key = QLatin1String(name);
    switch (store.readInt(key, value)) {
    case kirt::SettingsStore::ReadStatus::Ok:
        return true;
    case kirt::SettingsStore::ReadStatus::Absent:
        dialogs().error(this, QStringLiteral("Failed to get data for '%1'").arg(key));
        return false;
    case kirt::SettingsStore::ReadStatus::WrongType:
        break;
    }
    dialogs().error(this, QStringLiteral("Invalid data type for '%1'").arg(key));
    return false;
}

void TFmain::RestoreSettings()
{
    kirt::SettingsStore store;
    if (!store.openForRead()) {
        // First run: the values a newcomer starts with.
        m_ui->SerialPortComboBox->setCurrentIndex(0);
        m_ui->BaudRateComboBox->setCurrentIndex(12);
        m_comSettings.baudRate = 9600;
        m_ui->DataBitsComboBox->setCurrentIndex(4);
        m_comSettings.dataBits = 8;
        m_ui->StopBitsComboBox->setCurrentIndex(0);
        m_comSettings.stopBits = 0;
        m_ui->ParityBitsComboBox->setCurrentIndex(0);
        m_comSettings.parity = 0;
        m_ui->DisplayFormatComboBox->setCurrentIndex(1);
        m_ui->EchoOnOffComboBox->setCurrentIndex(0);
        m_ui->ScrollBarComboBox->setCurrentIndex(0);
        m_ui->LineLimitComboBox->setCurrentIndex(0);
        m_ui->LineLimitComboBox->setEnabled(false);
        m_ui->mMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_ui->ColorComboBox->setCurrentIndex(1);
        return;
    }

    const auto restoreBox = [&](const char* name, QComboBox* box) {
        int v = 0;
        if (!restoreInt(store, name, v))
            return false;
        if (v >= -1 && v < box->count())
            box->setCurrentIndex(v);
        return true;
    };
    bool ok = restoreBox("SerialPort", m_ui->SerialPortComboBox) &&
              restoreBox("BaudRate", m_ui->BaudRateComboBox) &&
              restoreBox("DataBit", m_ui->DataBitsComboBox) &&
              restoreBox("StopBit", m_ui->StopBitsComboBox) &&
              restoreBox("ParityBit", m_ui->ParityBitsComboBox) &&
              restoreBox("DisplayFormat", m_ui->DisplayFormatComboBox);
    if (ok) {
        QString newLine;
        if (store.readString(QStringLiteral("NewLineChar"), newLine) ==
            kirt::SettingsStore::ReadStatus::Ok) {
            m_ui->NewLineCharEdit->setText(newLine);
        } else {
            dialogs().error(this, QStringLiteral("Invalid data type for 'NewLineChar'"));
            ok = false;
        }
    }
    ok = ok && restoreBox("EchoOnOff", m_ui->EchoOnOffComboBox) &&
         restoreBox("ScrollBar", m_ui->ScrollBarComboBox) &&
         restoreBox("LineLimit", m_ui->LineLimitComboBox) &&
         restoreBox("Color", m_ui->ColorComboBox);
    int interval = 0;
    if (ok && restoreInt(store, "AutoIntervalTime", interval)) {
        if (interval >= -1 && interval <= m_ui->TrackBar1->maximum()) {
            // The start-up sequence applies the position itself, later and once.
            const QSignalBlocker blocker(m_ui->TrackBar1);
            m_ui->TrackBar1->setValue(std::max(interval, 0));
        }
    }
    store.close();
}

void TFmain::SaveSettings()
{
    kirt::SettingsStore store;
    if (!store.openForWrite())
        return;
    store.writeInt(QStringLiteral("SerialPort"), m_ui->SerialPortComboBox->currentIndex());
    store.writeInt(QStringLiteral("BaudRate"), m_ui->BaudRateComboBox->currentIndex());
    store.writeInt(QStringLiteral("DataBit"), m_ui->DataBitsComboBox->currentIndex());
    store.writeInt(QStringLiteral("StopBit"), m_ui->StopBitsComboBox->currentIndex());
    store.writeInt(QStringLiteral("ParityBit"), m_ui->ParityBitsComboBox->currentIndex());
    store.writeInt(QStringLiteral("DisplayFormat"), m_ui->DisplayFormatComboBox->currentIndex());
    store.writeString(QStringLiteral("NewLineChar"), m_ui->NewLineCharEdit->text());
    store.writeInt(QStringLiteral("EchoOnOff"), m_ui->EchoOnOffComboBox->currentIndex());
    store.writeInt(QStringLiteral("ScrollBar"), m_ui->ScrollBarComboBox->currentIndex());
    store.writeInt(QStringLiteral("LineLimit"), m_ui->LineLimitComboBox->currentIndex());
    store.writeInt(QStringLiteral("Color"), m_ui->ColorComboBox->currentIndex());
    store.writeInt(QStringLiteral("AutoIntervalTime"), m_ui->TrackBar1->value());
    store.close();
}

void TFmain::SetCurrentFileName(const QString& path)
{
    setWindowTitle(QStringLiteral("%1 - %2").arg(ApplicationTitle, QFileInfo(path).fileName()));
    m_currentFileName = path;
}

void TFmain::FormResize()
{
    if (m_ui->ScrollBarComboBox->currentIndex() != 0)
        return;
    m_displayLineLimit = kirt::LineLimitForHeight(m_ui->mMessage->height());
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
    if (goAhead && m_portOpen)
        ReleasePortHandle();
    SaveSettings();
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
