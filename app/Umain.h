#pragma once

#include "checksum/checksum.h"
#include "display/logfile.h"
#include "protocol/protocolrule.h"
#include "serial/comsettings.h"
#include "serial/devicediscovery.h"
#include "serial/receivethread.h"
#include "serial/rxringbuffer.h"
#include "transmit/autotransmit.h"
#include "transmit/codec.h"
#include "transmit/textfile.h"
#include "transmit/workbench.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QComboBox;
class QFileSystemWatcher;
class QInputMethodEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace Ui {
class TFmain;
}
namespace kirt {
struct StartOptions;
class DataLineEdit;
class KeyPreview;
class ReceiveDisplay;
class SettingsStore;
} // namespace kirt

// Set by Alt+F4, read and cleared by the close that follows it.
extern bool RefuseNextClose;

// The main window: reads the controls, calls the subsystems, writes the results. Each
// app/Umain_*.cpp holds one concern: start-up and settings (Umain.cpp), the views and display
// settings (Umain_view), the port (Umain_serial), the receive display (Umain_display), the
// transmit lines (Umain_transmit), the protocol rules (Umain_rules), keys and commands
// (Umain_keys), files and the log (Umain_files), flow control, the modem lines and break
// (Umain_linecontrol), the device behind the port (Umain_device), workbench files
// (Umain_workbench).
class TFmain : public QMainWindow, public kirt::RxSink
{
    Q_OBJECT

public:
    explicit TFmain(QWidget* parent = nullptr);
    ~TFmain() override;

    static constexpr int TransmitRows = 9;
    static constexpr int ProtocolRules = 4;

    // Start-up, settings and close.
    void FormCreate();
    void FormResize();
    bool FormCloseQuery();
    bool FormClose(); // true when the close goes ahead
    void RestoreSettings();
    void SaveSettings();
    void SetCurrentFileName(const QString& path);
    // What the command line asked for, applied once the window is up.
    void ApplyStartOptions(const kirt::StartOptions& options);
    QString currentFileName() const { return m_currentFileName; }

    // Views, display settings and the status line.
    void UpdateStatusLine();
    void DisplayFormatComboBoxClick();
    void NewLineCharEditChange();
    void ScrollBarComboBoxClick();
    void LineLimitComboBoxClick();
    void ColorComboBoxClick();
    void CLEAR_BitBtnClick();
    void ShowReceiveView();
    void ReceiveView_BitBtnClick();
    void OPTION_BitBtnClick();
    void TransmitDataView_BitBtnClick();
    void ProtocolData_BitBtnClick();
    std::uint32_t displayLineLimit() const { return m_displayLineLimit; }
    std::uint8_t newLineChar() const { return m_newLineChar; }
    bool newLineEnabled() const { return m_newLineEnabled; }

    // The port: line settings, open and close, the single write path.
    void SerialPortComboBoxClick();
    void BaudRateComboBoxClick();
    void DataBitsComboBoxClick();
    void StopBitsComboBoxClick();
    void ParityBitsComboBoxClick();
    void TimeOutComboBoxClick();
    void COM_BitBtnClick();
    bool OpenComPort(const QString& portName);
    void CloseComPort();
    void PurgeComPort();
    std::uint32_t WriteComBytes(const std::uint8_t* bytes, std::uint32_t count);
    const kirt::ComSettings& comSettings() const { return m_comSettings; }
    bool portOpen() const { return m_portOpen; }
    const kirt::RxRingBuffer& rxMemory() const { return m_rxMemory; }

    // Line control: the custom rate, flow control, DTR and RTS, break and the modem lamps.
    void PickBaudRate(); // the user chose a baud item; "Custom..." asks for the rate
    void FlowControlComboBoxClick();
    void DTRButtonClick();
    void RTSButtonClick();
    void BreakButtonClick();
    void ModemStatusTimerTimer();
    std::uint32_t customBaudRate() const { return m_customBaudRate; }
    static constexpr int BreakMs = 250;
    static constexpr int ModemStatusPollMs = 20;
    // Makes the port objects the window opens (the termios backend unless replaced).
    using PortMaker = std::function<std::shared_ptr<kirt::SerialPort>()>;
    void setPortMaker(PortMaker maker) { m_portMaker = std::move(maker); }

    // Calls from the receive thread, served on this thread.
    void RxHandOverBegins() override;
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count) override;
    void RxDisplayStep() override;
    void RxDisplayStepsDone() override;
    bool RxPending() const override;
    void deviceLost() override;

    // The device behind the port: the list to map the port from, its loss and its return.
    void SerialDeviceComboBoxClick();
    bool waitingForDevice() const { return m_device.lost; }

    // The receive display.
    void DisplayRxByte();
    void ShowTraffic();
    void TrimDisplayLines();
    void ScrollDisplayToEnd();

    // Transmit lines (row n = 1..9), auto transmit and the checksum calculator.
    void SetTransmitFormat(int n);
    void TransmitFormatComboBoxClick(int n);
    void TransmitEditSelectionChange(int n);
    void TransmitEditEnter(int n);
    void TransmitEditChange(int n);
    void SendTransmitLine(int n);
    void FocusBeforeSend(int n);
    void SendButtonClick(int n); // BitBtn9Click .. BitBtn17Click, n = 1..9
    void SendStartBtnClick();
    void SendStopBtnClick();
    void AutoTransIntervalTimerTimer();
    void TransmitAutoComboBoxClick();
    void TrackBar1Change();
    void Timer1Timer();
    void ComputeChecksum(int kind);
    void AppendCheckButtonClick();
    int currentTransmitLine() const { return m_currentTransmitLine; }
    kirt::DataFormat transmitLineFormat(int n) const { return m_transmitRows.row(n).lineFormat; }
    kirt::DataFormat activeTransmitFormat() const { return m_activeTransmitFormat; }
    int autoIntervalMs() const { return m_autoIntervalMs; }

    // Protocol rules (rule n = 1..4).
    void ProtocolFormatComboBoxClick(int n);
    void SetProtocolFormat(int n);
    void ParseReceivePacket(int n);
    void EnableProtocolRule(int n);
    void MatchProtocolByte(int n, std::uint8_t byte);
    void SendProtocolResponse(int n);
    char16_t FilterProtocolKey(int n, char16_t key) const;
    const kirt::ProtocolRule& protocolRule(int n) const { return m_ruleRows.row(n).rule; }

    // Keys, commands, the menu, key help and About.
    void FormKeyDown(int& key, Qt::KeyboardModifiers modifiers);
    void EXIT_BitBtnClick();
    void ExitClick();
    void UserMamualClick();
    void AboutClick();
    // Typed-key rules shared by the data fields and boxes; 0 discards the key.
    char16_t EditKeyPress(char16_t key) const;
    static char16_t ComboBoxKeyPress(char16_t key);
    static char16_t SerialPortSettingKeyPress(char16_t key);

    // Files and the real-time log.
    void FileOpenClick();
    void FileSaveClick();
    void FileSaveAsClick();
    void FilePrintClick();
    void FileTransmitTimerTimer();
    void RunTimeSave1Click();
    void StartRealTimeSave();
    void StopRealTimeSave();
    bool realTimeSaveOn() const { return m_realTimeSaveOn; }
    // Workbench files: the transmit lines, the rules and the auto interval (Umain_workbench).
    void WorkbenchOpenClick();
    void WorkbenchSaveClick();
    // Applies the workbench file at path; false (after an error box) when it was refused.
    bool OpenWorkbench(const QString& path);
    bool SaveWorkbench(const QString& path);

    // The time stamp of the byte being logged, from the time DisplayRxByte noted.
    QString LogTimeStamp() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Rows that repeat on the boards, numbered from 1 as the controls are.
    template <typename Row, int Count> class RowTable
    {
    public:
        Row& row(int n) { return m_rows.at(static_cast<std::size_t>(n - 1)); }
        const Row& row(int n) const { return m_rows.at(static_cast<std::size_t>(n - 1)); }
        auto begin() { return m_rows.begin(); }
        auto end() { return m_rows.end(); }

    private:
        std::array<Row, Count> m_rows{};
    };

    struct TransmitRow
    {
        kirt::DataLineEdit* edit = nullptr;
        QComboBox* format = nullptr;
        QComboBox* autoSend = nullptr;
        QComboBox* crlf = nullptr;
        QPushButton* send = nullptr;
        kirt::DataFormat lineFormat = kirt::DataFormat::Hex;
    };

    struct RuleRow
    {
        kirt::DataLineEdit* receivePacket = nullptr;
        kirt::DataLineEdit* response = nullptr;
        QComboBox* format = nullptr;
        QComboBox* enable = nullptr;
        QLabel* responseCount = nullptr;
        kirt::ProtocolRule rule;
    };

    // The first digit of a byte typed into the HEX display waits here for the second.
    struct HexKeyPair
    {
        std::array<char16_t, 2> digits{};
        std::size_t count = 0;
    };

    // One stored setting and what holds it: a box's item, a text, a position, a check
    // button (0/1) or a number of the window's own. An optional setting may be absent (files
    // of earlier versions lack it) and then keeps its default without a word.
    struct StoredSetting
    {
        const char* name;
        QComboBox* box = nullptr;
        QLineEdit* text = nullptr;
        QSlider* slider = nullptr;
        QAbstractButton* check = nullptr;
        std::uint32_t* number = nullptr;
        bool optional = false;
    };

    // Start-up and wiring (Umain.cpp).
    void buildRows();
    void connectSignals();
    void installKeyFilters();
    void centreOnScreen();
    std::array<StoredSetting, 17> storedSettings();
    bool restoreInt(kirt::SettingsStore& store, const QString& name, int& value);
    bool restoreSetting(kirt::SettingsStore& store, const StoredSetting& setting);

    // Views (Umain_view.cpp).
    void bringViewToFront(QWidget* view, QWidget* viewButton);
    void setViewButtonColours(QWidget* blue);
    void Panel3CanResize();
    void Panel1CanResize();

    // Port (Umain_serial.cpp).
    void ReleasePortHandle();
    // Writes without showing the bytes (the echo of received bytes).
    void writeToPort(const std::uint8_t* bytes, std::uint32_t count);
    // "Show Sent Data" is on and written bytes go out: WriteComBytes shows them.
    bool showingSent() const;
    void showSentBytes(const std::uint8_t* bytes, std::uint32_t count);
    kirt::SerialStatus applyLineSettings(kirt::SerialPort& port);
    void resetReceiveBuffer();

    // The device behind the port (Umain_device.cpp).
    void setUpDeviceWatch();
    void watchDeviceFolders();
    void refreshDevices();
    void showPortDevice();
    void flushRxWrites();

    // Line control (Umain_linecontrol.cpp).
    void showCustomBaudRate();
    kirt::SerialStatus assertModemLines(kirt::SerialPort& port);
    void setModemLine(kirt::ModemLine line, bool on);
    void startLineControl();
    void stopLineControl();
    void showModemStatus(const kirt::ModemStatus& status, const QString& toolTip = {});
    void rememberOpenedDevice(const QString& portName);
    void loseDevice();
    void retryLostDevice();
    void stopWaitingForDevice();
    void showDeviceState(const QString& text);

    // Receive display (Umain_display.cpp).
    void clearDisplay();
    bool mMessageKeyPress(char16_t key);

    // Protocol rules (Umain_rules.cpp).
    void resetProtocolState();

    // Keys (Umain_keys.cpp).
    bool filterTypedKey(QObject* watched, QKeyEvent* event);
    void filterNewLineCommit(QInputMethodEvent* event);

    // Files and the log (Umain_files.cpp).
    void LogLineBreak();
    void LogRxByte(std::uint8_t ch);
    void appendToLog(const QString& text);
    void flushLog();
    void beforeRewriting(const QString& path);

    // Workbench files (Umain_workbench.cpp).
    kirt::Workbench currentWorkbench() const;
    void applyWorkbench(const kirt::Workbench& bench);

    std::unique_ptr<Ui::TFmain> m_ui;
    QString m_currentFileName;
    bool m_centredWhenShown = false;
    QSize m_centredFrame;
    QDeadlineTimer m_centringWindow{0};

    // The port and the receive path.
    kirt::ComSettings m_comSettings;
    bool m_portOpen = false;
    std::atomic<bool> m_rxEnabled{false};
    std::shared_ptr<kirt::SerialPort> m_port;
    QPointer<TReceiveComThread> m_receiveThread;
    kirt::RxRingBuffer m_rxMemory;
    PortMaker m_portMaker;

    // Line control.
    std::uint32_t m_customBaudRate = 0; // 0 until the user gives one
    int m_baudIndexBeforePick = 12;
    QTimer* m_breakTimer = nullptr;
    QTimer* m_modemStatusTimer = nullptr;
    kirt::ModemStatus m_modemStatus;

    // Within a hand-over, writes wait here and leave together when it ends.
    bool m_inRxHandOver = false;
    std::vector<std::uint8_t> m_rxWrites;

    // The devices to choose from, and the one the open port stands on.
    struct DeviceWatch
    {
        QFileSystemWatcher* folders = nullptr;
        QTimer* refresh = nullptr;    // one refresh for a burst of changes
        QTimer* retry = nullptr;      // reopen attempts while the device is lost
        QTimer* stateShown = nullptr; // how long "Reconnected" stays
        QList<kirt::SerialDevice> devices;
        QString port;               // the port opened, "COM1"
        QString path;               // the device it resolved to, as the user named it
        QString node;               // that device's node, links followed
        bool mapped = false;        // by a variable or a link, not the kernel's own port
        kirt::ComSettings settings; // the line settings it was opened with
        bool lost = false;
    };
    DeviceWatch m_device;

    // The receive display.
    kirt::ReceiveDisplay* m_display = nullptr;
    QDateTime m_rxTime;
    mutable QString m_rxTimeText; // m_rxTime as the log writes it, made when first needed
    // Received text went into the display in this hand-over: the line limit applies again.
    bool m_rxDisplayChanged = false;
    std::uint32_t m_displayLineLimit = 27;
    std::uint8_t m_newLineChar = 0;
    bool m_newLineEnabled = false;
    // How long typing may make the new-line text; set during start-up.
    int m_newLineTypingLimit = 32767;
    int m_lastDisplayFormat = 0;
    HexKeyPair m_hexKeyPair;

    // Transmit lines, auto transmit and the checksum calculator.
    RowTable<TransmitRow, TransmitRows> m_transmitRows;
    kirt::TransmitBuffer m_transmitBuffer{};
    kirt::DataFormat m_activeTransmitFormat = kirt::DataFormat::Hex;
    int m_currentTransmitLine = 0;
    int m_autoIntervalMs = 500;
    kirt::AutoTransmitCycle m_autoCycle;
    QTimer* m_autoTransIntervalTimer = nullptr;
    QTimer* m_timer1 = nullptr;
    // What is selected in the current transmit line, as last seen by Timer1.
    QString m_selectedTransmitText;
    std::array<QPushButton*, 8> m_checkButtons{};
    // The result on show and the line it was computed for (0: none, or the line changed since).
    struct ShownCheck
    {
        int line = 0;
        kirt::CheckKind kind = kirt::CheckKind::Xor;
        std::uint16_t value = 0;
    };
    ShownCheck m_shownCheck;
    void forgetShownCheck();
    void watchSelection(int n);

    // Protocol rules.
    RowTable<RuleRow, ProtocolRules> m_ruleRows;
    kirt::DataFormat m_ruleFormatBeforePick = kirt::DataFormat::Hex;

    // Keys.
    std::unique_ptr<kirt::KeyPreview> m_keyPreview;

    // Files and the log.
    kirt::FileTransmit m_fileTransmit;
    QTimer* m_fileTransmitTimer = nullptr;
    kirt::LogFile m_log;
    bool m_realTimeSaveOn = false;
};
