#pragma once

#include "protocol/protocolrule.h"
#include "serial/comsettings.h"
#include "serial/receivethread.h"
#include "serial/rxringbuffer.h"
#include "transmit/autotransmit.h"
#include "transmit/codec.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <atomic>
#include <memory>

class QComboBox;
class QLabel;
class QTimer;
class DataLineEdit;
class ReceiveDisplay;

namespace Ui {
class TFmain;
}
namespace kirt {
class SettingsStore;
}

// Set by Alt+F4, read and cleared by the close that follows it.
extern bool RefuseNextClose;

// The main window: reads the controls, calls the subsystems, writes the results.
class TFmain : public QMainWindow, public kirt::RxSink
{
    Q_OBJECT

public:
    explicit TFmain(QWidget* parent = nullptr);
    ~TFmain() override;

    static constexpr int TransmitRows = 9;
    static constexpr int ProtocolRules = 4;

    // Start-up and lifecycle.
    void FormCreate();
    void FormResize();
    bool FormCloseQuery();
    bool FormClose(); // true when the close goes ahead
    void RestoreSettings();
    void SaveSettings();
    void SetCurrentFileName(const QString& path);
    QString currentFileName() const { return m_currentFileName; }

    // Status line.
    void UpdateStatusLine();

    // Line settings.
    void SerialPortComboBoxClick();
    void BaudRateComboBoxClick();
    void DataBitsComboBoxClick();
    void StopBitsComboBoxClick();
    void ParityBitsComboBoxClick();
    void TimeOutComboBoxClick();
    const kirt::ComSettings& comSettings() const { return m_comSettings; }
    bool portOpen() const { return m_portOpen; }

    // Port open and close, and the single write path.
    void COM_BitBtnClick();
    bool OpenComPort(const QString& portName);
    void CloseComPort();
    void PurgeComPort();
    std::uint32_t WriteComBytes(const std::uint8_t* bytes, std::uint32_t count);
    const kirt::RxRingBuffer& rxMemory() const { return m_rxMemory; }

    // Calls from the receive thread, served on this thread.
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count) override;
    void RxDisplayStep() override;
    void RxDisplayStepsDone() override;

    // Receive display.
    void DisplayRxByte();
    void ShowTraffic();
    void TrimDisplayLines();
    void ScrollDisplayToEnd();
    void MatchProtocolByte(int n, std::uint8_t byte);
    void SendProtocolResponse(int n);

    // Display settings and views.
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

    // Transmit lines (row n = 1..9).
    void SetTransmitFormat(int n);
    void TransmitFormatComboBoxClick(int n);
    void TransmitEditSelectionChange(int n);
    void TransmitEditEnter(int n);
    void TransmitEditChange(int n);
    int currentTransmitLine() const { return m_currentTransmitLine; }
    kirt::DataFormat transmitLineFormat(int n) const
    {
        return m_transmitLineFormat[static_cast<std::size_t>(n)];
    }
    kirt::DataFormat activeTransmitFormat() const { return m_activeTransmitFormat; }

    // Auto transmit.
    void TrackBar1Change();
    void SendStopBtnClick();
    int autoIntervalMs() const { return m_autoIntervalMs; }

    // Protocol rules (rule n = 1..4).
    void ProtocolFormatComboBoxClick(int n);
    void SetProtocolFormat(int n);
    void ParseReceivePacket(int n);
    void EnableProtocolRule(int n);
    char16_t FilterProtocolKey(int n, char16_t key) const;
    const kirt::ProtocolRule& protocolRule(int n) const
    {
        return m_rules[static_cast<std::size_t>(n)];
    }

    // ---- Keys, commands, menu, key help, About (app/Umain_keys.cpp) ----
    // BEGIN keys section
    void FormKeyDown(int& key, Qt::KeyboardModifiers modifiers);
    void EXIT_BitBtnClick();
    void ExitClick();
    void UserMamualClick();
    void AboutClick();
    // END keys section

    // ---- Transmit lines, auto transmit, checksum (app/Umain_transmit.cpp) ----
    // BEGIN transmit section
    void SendTransmitLine(int n);
    void FocusBeforeSend(int n);
    void SendButtonClick(int n); // BitBtn9Click .. BitBtn17Click, n = 1..9
    void SendStartBtnClick();
    void AutoTransIntervalTimerTimer();
    void TransmitAutoComboBoxClick();
    void Timer1Timer();
    void ComputeChecksum(int kind);
    // END transmit section

    // ---- Files and the real-time log (app/Umain_files.cpp) ----
    // BEGIN files section
    void FileOpenClick();
    void FileSaveClick();
    void FileSaveAsClick();
    void FilePrintClick();
    void FileTransmitTimerTimer();
    void RunTimeSave1Click();
    void StartRealTimeSave();
    void StopRealTimeSave();
    bool realTimeSaveOn() const { return m_realTimeSaveOn; }
    // The time stamp of the byte being logged, from the time DisplayRxByte noted.
    QString LogTimeStamp() const;
    // END files section

    // Typed-key rules shared by the data fields and boxes; 0 discards the key.
    char16_t EditKeyPress(char16_t key) const;
    static char16_t ComboBoxKeyPress(char16_t key);
    static char16_t SerialPortSettingKeyPress(char16_t key);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildRowTables();
    void connectControls();
    void installKeyFilters();
    void centreOnScreen();
    void setViewButtonColours(QWidget* blue);
    void Panel3CanResize();
    void Panel1CanResize();
    void ReleasePortHandle();
    // Per-area wiring and state, each defined in its area's file.
    void connectKeys();
    void connectTransmit();
    void connectFiles();
    // The log's two steps inside a display step (files area).
    void LogLineBreak();
    void LogRxByte(std::uint8_t ch);
    struct KeysState;
    struct TransmitState;
    struct FilesState;
    // Each area's file completes its state type and defines how it is deleted.
    struct AreaDeleter
    {
        void operator()(KeysState* state) const;
        void operator()(TransmitState* state) const;
        void operator()(FilesState* state) const;
    };
    std::unique_ptr<KeysState, AreaDeleter> m_keys;
    std::unique_ptr<TransmitState, AreaDeleter> m_transmit;
    std::unique_ptr<FilesState, AreaDeleter> m_files;
    void clearDisplay();
    void resetProtocolState();
    void resetReceiveBuffer();
    bool mMessageKeyPress(char16_t key);
    void showPortDevice();
    bool restoreInt(kirt::SettingsStore& store, const char* name, int& value);

    std::unique_ptr<Ui::TFmain> m_ui;

    // Row tables, index 0 unused.
    std::array<DataLineEdit*, TransmitRows + 1> m_transmitEdit{};
    std::array<QComboBox*, TransmitRows + 1> m_transmitFormat{};
    std::array<QComboBox*, TransmitRows + 1> m_transmitAuto{};
    std::array<QComboBox*, TransmitRows + 1> m_crlf{};
    std::array<DataLineEdit*, ProtocolRules + 1> m_rxEdit{};
    std::array<DataLineEdit*, ProtocolRules + 1> m_txEdit{};
    std::array<QComboBox*, ProtocolRules + 1> m_protocolFormat{};
    std::array<QComboBox*, ProtocolRules + 1> m_protocolEnable{};
    std::array<QLabel*, ProtocolRules + 1> m_responseCountText{};

    QTimer* m_timer1 = nullptr;
    QTimer* m_autoTransIntervalTimer = nullptr;
    QTimer* m_fileTransmitTimer = nullptr;

    QString m_currentFileName;

    kirt::ComSettings m_comSettings;
    bool m_portOpen = false;
    std::atomic<bool> m_rxEnabled{false};
    std::shared_ptr<kirt::SerialPort> m_port;
    QPointer<TReceiveComThread> m_receiveThread;
    kirt::RxRingBuffer m_rxMemory;
    QDateTime m_rxTime;
    kirt::TransmitBuffer m_transmitBuffer{};
    ReceiveDisplay* m_display = nullptr;

    std::uint32_t m_displayLineLimit = 27;
    std::uint8_t m_newLineChar = 0;
    bool m_newLineEnabled = false;
    int m_lastDisplayFormat = 0;
    std::uint8_t m_hexKeyPairCount = 0;

    std::array<kirt::DataFormat, TransmitRows + 1> m_transmitLineFormat{};
    kirt::DataFormat m_activeTransmitFormat = kirt::DataFormat::Hex;
    int m_currentTransmitLine = 0;

    int m_autoIntervalMs = 500;
    kirt::AutoTransmitCycle m_autoCycle;

    std::array<kirt::ProtocolRule, ProtocolRules + 1> m_rules{};
    kirt::DataFormat m_ruleFormatBeforePick = kirt::DataFormat::Hex;

    bool m_realTimeSaveOn = false;
};
