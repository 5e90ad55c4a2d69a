#pragma once

#include "app/rowtable.h"
#include "base/benchcounts.h"
#include "base/codec.h"
#include "base/comsettings.h"
#include "checksum/checksum.h"
#include "display/logfile.h"
#include "plot/plotfeed.h"
#include "protocol/protocolrule.h"
#include "script/scriptrunner.h"
#include "serial/devicediscovery.h"
#include "serial/portfactory.h"
#include "session/portcontroller.h"
#include "transmit/autotransmit.h"
#include "transmit/textfile.h"
#include "transmit/workbench.h"

#include <QDeadlineTimer>
#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAbstractButton;
class QAction;
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
class PlotPanel;
class ProfileClaim;
class TerminalPanel;
class KeyPreview;
class MonitorHost;
class ReceiveDisplay;
class SearchBar;
class SettingsStore;
class TransferHost;
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
class TFmain : public QMainWindow, private kirt::ReceiveOutput
{
    Q_OBJECT

public:
    explicit TFmain(QWidget* parent = nullptr);
    ~TFmain() override;

    static constexpr int TransmitRows = kirt::TransmitLineCount;
    static constexpr int ProtocolRules = kirt::ProtocolRuleCount;

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
    void PlotView_BitBtnClick();
    void TerminalView_BitBtnClick();
    std::uint32_t displayLineLimit() const { return rx().lineLimit; }
    std::uint8_t newLineChar() const { return rx().newLineChar; }
    bool newLineEnabled() const { return rx().newLineEnabled; }

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
    const kirt::ComSettings& comSettings() const { return port().settings(); }
    bool portOpen() const { return port().isOpen(); }
    const kirt::PortSession& session() const { return port().session(); }
    const kirt::RxRingBuffer& rxMemory() const { return port().pipeline().rxMemory(); }
    // The ports the window hosts; the first is the one its controls work on.
    kirt::PortController& port() { return *m_ports.front(); }
    kirt::PortController& monitorPort();
    const kirt::PortController& port() const { return *m_ports.front(); }

    // Line control: the custom rate, flow control, DTR and RTS, break and the modem lamps.
    void PickBaudRate(); // the user chose a baud item; "Custom..." asks for the rate
    void FlowControlComboBoxClick();
    void DTRButtonClick();
    void RTSButtonClick();
    void BreakButtonClick();
    void ModemStatusTimerTimer();
    std::uint32_t customBaudRate() const { return m_picks.customBaudRate; }
    static constexpr int BreakMs = 250;
    static constexpr int ModemStatusPollMs = kirt::PortSession::ModemStatusPollMs;
    // Makes the port objects the window opens (the system's serial port unless replaced).
    using PortMaker = kirt::PortFactory;
    void setPortMaker(PortMaker maker);

    // The receive thread's hand-over, as it runs it; the session and the pipeline do the work.
    void RxHandOverBegins();
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count);
    void RxDisplayStep();
    void RxDisplayStepsDone();
    bool RxPending() const;

    // The device behind the port: the list to map the port from, its loss and its return.
    void SerialDeviceComboBoxClick();
    std::optional<kirt::SerialDevice> askOtherDevice(const QString& port);
    bool waitingForDevice() const { return port().session().waitingForDevice(); }

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
    int currentTransmitLine() const { return m_transmit.currentLine; }
    kirt::DataFormat transmitLineFormat(int n) const { return m_transmitRows.row(n).lineFormat; }
    kirt::DataFormat activeTransmitFormat() const { return m_transmit.activeFormat; }
    int autoIntervalMs() const { return m_transmit.autoIntervalMs; }

    // Protocol rules (rule n = 1..4).
    void ProtocolFormatComboBoxClick(int n);
    void SetProtocolFormat(int n);
    void ParseReceivePacket(int n);
    void EnableProtocolRule(int n);
    void MatchProtocolByte(int n, std::uint8_t byte);
    void SendProtocolResponse(int n);
    char16_t FilterProtocolKey(int n, char16_t key) const;
    const kirt::ProtocolRule& protocolRule(int n) const { return port().pipeline().rule(n); }

    // Keys, commands, the menu, key help and About.
    void FormKeyDown(int& key, Qt::KeyboardModifiers modifiers);
    void EXIT_BitBtnClick();
    void ExitClick();
    void UserMamualClick();
    void AboutClick();
    // The Edit menu: on the display, whichever control has the focus.
    void EditCopyClick();
    void EditPasteClick();
    void EditSelectAllClick();
    void EditFindClick();
    // The Tools menu: a test script that talks to the open port (Umain_script.cpp).
    void RunScriptActionClick();
    void StopScriptActionClick();
    bool scriptRunning() const;
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
    bool realTimeSaveOn() const { return rx().logging; }
    // Workbench files: the transmit lines, the rules, the auto interval and the port
    // (Umain_workbench).
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

    // One stored setting and what holds it: a box's item, a text, a position, a check button
    // (0/1) or a number; an optional one may be absent (older files) and keeps its default.
    static constexpr int DesignedFontSize = 10;
    static constexpr int MinFontSize = 6;
    static constexpr int MaxFontSize = 36;
    struct StoredSetting
    {
        const char* name;
        QComboBox* box = nullptr;
        QLineEdit* text = nullptr;
        QSlider* slider = nullptr;
        QAbstractButton* check = nullptr;
        std::uint32_t* number = nullptr;
        bool optional = false;
        QAction* action = nullptr; // a checkable menu item, 0/1
        int* points = nullptr;     // a font size
    };

    // Start-up and wiring (Umain.cpp).
    void buildRows();
    void connectSignals();
    void installKeyFilters();
    void centreOnScreen();
    std::array<StoredSetting, 29> storedSettings();
    bool restoreInt(kirt::SettingsStore& store, const QString& name, int& value);
    bool restoreSetting(kirt::SettingsStore& store, const StoredSetting& setting);

    // Views (Umain_view.cpp).
    void bringViewToFront(QWidget* view, QWidget* viewButton);
    void setViewButtonColours(QWidget* blue);
    void Panel3CanResize();
    void Panel1CanResize();

    // Port (Umain_serial.cpp).
    void ReleasePortHandle();
    kirt::OpenRequest openRequest(const QString& portName, const kirt::ComSettings& settings) const;
    // The open the COM button began has its outcome; a failure's box is shown here.
    void comOpenFinished(const kirt::OpenResult& result);
    // Whoever opened the port, and whoever closed it.
    void portOpened();
    void showComButtonOpen(bool open);
    // The display, the status line and the receive view after the COM button.
    void afterComClick();
    // A claim on the port began or ended.
    void showClaim(bool claimed);
    // Writes without showing the bytes (the echo of received bytes).
    void writeToPort(const std::uint8_t* bytes, std::uint32_t count);
    // "Show Sent Data" is on and written bytes go out: WriteComBytes shows them.
    bool showingSent() const;
    void showSentBytes(const std::uint8_t* bytes, std::uint32_t count);
    // Why the line settings cannot be applied (a box with nothing chosen), or nothing.
    QString lineSettingsRefusal() const;
    void resetReceiveBuffer();

    // What the receive pipeline hands on (Umain_display.cpp).
    kirt::ReceiveSettings& rx() { return port().pipeline().settings(); }
    const kirt::ReceiveSettings& rx() const { return port().pipeline().settings(); }
    void writeEcho(const std::uint8_t* bytes, std::uint32_t count) override;
    void writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count) override;
    void responseCounted(int rule, std::uint32_t count) override;
    void rxMemoryFull(bool shown) override;
    void trafficChanged(std::uint32_t written, std::uint32_t backlog) override;
    void logFailed(const QString& path, const QString& reason) override;
    void handOverBegins() override;
    // The controls the pipeline reads for every byte, into its settings.
    void syncReceiveSettings();
    // A rule's switch and response bytes, into the pipeline.
    void syncRule(int n);

    // Scripts (Umain_script.cpp).
    class ScriptPortOfWindow;
    friend class ScriptPortOfWindow;
    void setUpScripts();
    // Lines of the program's own in the display (not received, not logged), each on a line of
    // its own in the colour of sent data.
    void showNoteLines(const QStringList& lines);
    void showNoteLine(const QString& text) { showNoteLines({text}); }
    void showScriptOutcome(const kirt::ScriptOutcome& outcome);
    // Opens the port at once with settings, as the COM button does but without a box.
    kirt::OpenResult openForScript(const QString& portName, const kirt::ComSettings& settings);

    // The device behind the port (Umain_device.cpp).
    void setUpDeviceWatch();
    void watchDeviceFolders();
    void refreshDevices();
    void showPortDevice();

    // Line control (Umain_linecontrol.cpp).
    void showCustomBaudRate();
    void setModemLine(kirt::ModemLine line, bool on);
    void showModemStatus(const kirt::ModemStatus& status);
    void showDeviceLost(const QString& devicePath);
    void showReconnected(const QString& devicePath);
    void stopWaitingForDevice();
    void showDeviceState(const QString& text);

    // Receive display (Umain_display.cpp).
    void clearDisplay();
    bool mMessageKeyPress(char16_t key);
    void showDisplayMenu(const QPoint& at);
    void setDisplayFontSize(int points);

    // Protocol rules (Umain_rules.cpp).
    void resetProtocolState();

    // Keys (Umain_keys.cpp).
    bool filterTypedKey(QObject* watched, QKeyEvent* event);
    void filterNewLineCommit(QInputMethodEvent* event);

    // Files and the log (Umain_files.cpp).
    void beforeRewriting(const QString& path);

    // Workbench files (Umain_workbench.cpp).
    kirt::Workbench currentWorkbench(bool withPort) const;
    void applyWorkbench(const kirt::Workbench& bench);
    void applyPortSettings(const kirt::Workbench::Port& port);
    // The lines and rules kept between runs ("Keep Lines Between Runs").
    QString keptWorkbenchPath() const;
    void saveKeptWorkbench();
    void openKeptWorkbench();

    std::unique_ptr<Ui::TFmain> m_ui;
    std::unique_ptr<kirt::ProfileClaim> m_profile; // whose files this window reads and writes
    QString m_currentFileName;
    // Centred once when first shown, and again while the frame settles (Umain.cpp).
    struct Centring
    {
        bool whenShown = false;
        QSize frame;
        QDeadlineTimer until{0};
    };
    Centring m_centring;

    // The ports, each with its session, receive pipeline and line settings.
    std::vector<std::unique_ptr<kirt::PortController>> m_ports;
    std::unique_ptr<kirt::TransferHost> m_transfers; // file transfers, ended before the ports
    std::unique_ptr<kirt::MonitorHost> m_monitor;    // the monitor port, merged into the display

    // A device given on the command line for this run only, and the port stored before it.
    struct RunOnlyDevice
    {
        QString port; // "COM2"; empty when there is none
        QString device;
        int storedPortIndex = 0;
    };
    RunOnlyDevice m_runOnly;

    // What a box held before the user's pick, for a pick that is refused, and the custom rate.
    struct Picks
    {
        std::uint32_t customBaudRate = 0; // 0 until the user gives one
        int baudIndexBefore = 12;
        kirt::DataFormat ruleFormatBefore = kirt::DataFormat::Hex;
    };
    Picks m_picks;

    // The devices to choose from, and how the state of the open port's device is shown.
    struct DeviceWatch
    {
        QFileSystemWatcher* folders = nullptr;
        QTimer* refresh = nullptr;    // one refresh for a burst of changes
        QTimer* stateShown = nullptr; // how long "Reconnected" stays
        QList<kirt::SerialDevice> devices;
    };
    DeviceWatch m_device;

    // The running script, and the port as it sees it.
    struct Scripts
    {
        std::unique_ptr<kirt::ScriptPort> port;
        std::unique_ptr<kirt::ScriptRunner> runner;
        QString name;
    };
    Scripts m_scripts;

    // The receive display.
    kirt::ReceiveDisplay* m_display = nullptr;
    kirt::SearchBar* m_searchBar = nullptr;
    // The plot and what it collects from the moment the port opens (Umain_plot.cpp).
    kirt::PlotPanel* m_plotPanel = nullptr;
    void setUpPlot();
    void exportPlot();
    // The terminal, one more reader of the port (Umain_terminal.cpp).
    kirt::TerminalPanel* m_terminal = nullptr;
    void setUpTerminal();
    void applyTerminalSettings();
    bool terminalInFront() const;
    bool terminalTakesKeys(const QWidget* control) const;
    void terminalWindowKey(int n); // Ctrl+Shift+F1..F10 in the terminal
    // Typing into the display and its font.
    struct Typing
    {
        int fontSize = DesignedFontSize; // points, changed with Ctrl+wheel
        // How long typing may make the new-line text; set during start-up.
        int newLineLimit = 32767;
        int lastDisplayFormat = 0;
        HexKeyPair hexKeyPair;
    };
    Typing m_typing;

    // Transmit lines, auto transmit and the checksum calculator.
    kirt::RowTable<TransmitRow, TransmitRows> m_transmitRows;
    QTimer* m_autoTransIntervalTimer = nullptr;
    QTimer* m_timer1 = nullptr;
    // The result on show and the line it was computed for (0: none, or the line changed since).
    struct ShownCheck
    {
        int line = 0;
        kirt::CheckKind kind = kirt::CheckKind::Xor;
        std::uint16_t value = 0;
    };
    struct Transmit
    {
        kirt::TransmitBuffer buffer{};
        kirt::DataFormat activeFormat = kirt::DataFormat::Hex;
        int currentLine = 0;
        int autoIntervalMs = 500;
        kirt::AutoTransmitCycle autoCycle;
        // What is selected in the current transmit line, as last seen by Timer1.
        QString selectedText;
        std::array<QPushButton*, 8> checkButtons{};
        ShownCheck shownCheck;
    };
    Transmit m_transmit;
    void forgetShownCheck();
    void watchSelection(int n);

    // Protocol rules.
    kirt::RowTable<RuleRow, ProtocolRules> m_ruleRows;

    // Keys.
    std::unique_ptr<kirt::KeyPreview> m_keyPreview;

    // Files and the log.
    kirt::FileTransmit m_fileTransmit;
    QTimer* m_fileTransmitTimer = nullptr;
};
