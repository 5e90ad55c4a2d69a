// The stored settings: restored at start, saved at exit, and the start options applied over them.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "config/commandline.h"
#include "config/profile.h"
#include "config/settingsstore.h"
#include "ui_Umain.h"

#include <QDir>
#include <QSignalBlocker>

#include <algorithm>

// The stored settings in their stored order: the twelve of the first version, then the
// optional ones added since.
std::array<TFmain::StoredSetting, 29> TFmain::storedSettings()
{
    const Ui::TFmain* ui = m_ui.get();
    return {{
        {kirt::storedkey::SerialPort, ui->SerialPortComboBox},
        {kirt::storedkey::BaudRate, ui->BaudRateComboBox},
        {kirt::storedkey::DataBits, ui->DataBitsComboBox},
        {kirt::storedkey::StopBits, ui->StopBitsComboBox},
        {kirt::storedkey::Parity, ui->ParityBitsComboBox},
        {"DisplayFormat", ui->DisplayFormatComboBox},
        {"NewLineChar", nullptr, ui->NewLineCharEdit},
        {"EchoOnOff", ui->EchoOnOffComboBox},
        {"ScrollBar", ui->ScrollBarComboBox},
        {"LineLimit", ui->LineLimitComboBox},
        {"Color", ui->ColorComboBox},
        {"AutoIntervalTime", nullptr, nullptr, ui->TrackBar1},
        {.name = kirt::storedkey::CustomBaudRate,
         .number = &m_picks.customBaudRate,
         .optional = true},
        {.name = kirt::storedkey::FlowControl, .box = ui->FlowControlComboBox, .optional = true},
        {.name = "DtrOn", .check = ui->DTRButton, .optional = true},
        {.name = "RtsOn", .check = ui->RTSButton, .optional = true},
        {.name = "ShowSent", .box = ui->ShowSentComboBox, .optional = true},
        {.name = "KeepWorkbench", .optional = true, .action = ui->KeepWorkbenchAction},
        {.name = "TimeStamp", .box = ui->TimeStampComboBox, .optional = true},
        {.name = "GapSplit", .box = ui->GapSplitComboBox, .optional = true},
        {.name = "Follow", .box = ui->FollowComboBox, .optional = true},
        {.name = "FontSize", .optional = true, .points = &m_typing.fontSize},
        {.name = "TerminalEnter", .box = ui->TerminalEnterComboBox, .optional = true},
        {.name = "TerminalBackspace", .box = ui->TerminalBackspaceComboBox, .optional = true},
        {.name = "TerminalCharset", .box = ui->TerminalCharsetComboBox, .optional = true},
        {.name = "TerminalEcho", .box = ui->TerminalEchoComboBox, .optional = true},
        {.name = "TerminalScrollback", .box = ui->TerminalScrollbackComboBox, .optional = true},
        {.name = "XmodemBlock", .box = ui->XmodemBlockComboBox, .optional = true},
        {.name = "MonitorPort", .box = ui->MonitorPortComboBox, .optional = true},
    }};
}

bool TFmain::restoreInt(kirt::SettingsStore& store, const QString& name, int& value)
{
    switch (store.readInt(name, value)) {
    case kirt::SettingsStore::ReadStatus::Ok:
        return true;
    case kirt::SettingsStore::ReadStatus::Absent:
        kirt::dialogs().error(this, QStringLiteral("Failed to get data for '%1'").arg(name));
        return false;
    case kirt::SettingsStore::ReadStatus::WrongType:
        break;
    }
    kirt::dialogs().error(this, QStringLiteral("Invalid data type for '%1'").arg(name));
    return false;
}

bool TFmain::restoreSetting(kirt::SettingsStore& store, const StoredSetting& setting)
{
    const QString name = QLatin1String(setting.name);
    if (setting.text) {
        QString text;
        if (store.readString(name, text) != kirt::SettingsStore::ReadStatus::Ok) {
            kirt::dialogs().error(this, QStringLiteral("Invalid data type for '%1'").arg(name));
            return false;
        }
        setting.text->setText(text);
        return true;
    }
    int v = 0;
    if (setting.optional && store.readInt(name, v) == kirt::SettingsStore::ReadStatus::Absent)
        return true;
    if (!restoreInt(store, name, v))
        return false;
    if (setting.box && v >= -1 && v < setting.box->count()) {
        setting.box->setCurrentIndex(v);
    } else if (setting.slider && v >= -1 && v <= setting.slider->maximum()) {
        // The start-up sequence applies the position itself, later and once.
        const QSignalBlocker blocker(setting.slider);
        setting.slider->setValue(std::max(v, 0));
    } else if (setting.check && (v == 0 || v == 1)) {
        setting.check->setChecked(v == 1);
    } else if (setting.action && (v == 0 || v == 1)) {
        setting.action->setChecked(v == 1);
    } else if (setting.number && kirt::customBaudAllowed(v)) {
        *setting.number = static_cast<std::uint32_t>(v);
    } else if (setting.points && v >= MinFontSize && v <= MaxFontSize) {
        *setting.points = v;
    }
    return true;
}

void TFmain::RestoreSettings()
{
    kirt::SettingsStore store(m_profile->name());
    if (!store.openForRead()) {
        // First run: the values a newcomer starts with.
        m_ui->SerialPortComboBox->setCurrentIndex(0);
        m_ui->BaudRateComboBox->setCurrentIndex(12);
        port().settings().baudRate = 9600;
        m_ui->DataBitsComboBox->setCurrentIndex(4);
        port().settings().dataBits = 8;
        m_ui->StopBitsComboBox->setCurrentIndex(0);
        port().settings().stopBits = kirt::StopBits::One;
        m_ui->ParityBitsComboBox->setCurrentIndex(0);
        port().settings().parity = kirt::Parity::None;
        m_ui->DisplayFormatComboBox->setCurrentIndex(1);
        m_ui->EchoOnOffComboBox->setCurrentIndex(0);
        m_ui->ScrollBarComboBox->setCurrentIndex(0);
        m_ui->LineLimitComboBox->setCurrentIndex(0);
        m_ui->LineLimitComboBox->setEnabled(false);
        m_ui->mMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_ui->ColorComboBox->setCurrentIndex(1);
        return;
    }
    // The first value that cannot be read ends the restore; the rest keep their defaults.
    for (const StoredSetting& setting : storedSettings())
        if (!restoreSetting(store, setting))
            break;
    store.close();
    showCustomBaudRate();
}

void TFmain::SaveSettings()
{
    // A second window of the profile leaves the first one's settings alone.
    if (!m_profile->owned())
        return;
    kirt::SettingsStore store(m_profile->name());
    // What is no settings file is never written, and the user hears of it once; an unwritable
    // location stays silent, as it always was.
    if (!store.openForWrite()) {
        if (!store.refusal().isEmpty())
            kirt::dialogs().error(this,
                                  QStringLiteral("The settings were not saved to %1.")
                                      .arg(QDir::toNativeSeparators(store.path())),
                                  store.refusal());
        return;
    }
    for (const StoredSetting& setting : storedSettings()) {
        const QString name = QLatin1String(setting.name);
        if (setting.text)
            store.writeString(name, setting.text->text());
        else if (setting.box == m_ui->SerialPortComboBox && !m_runOnly.port.isEmpty() &&
                 setting.box->currentText() == m_runOnly.port)
            // A device for this run only: the next plain start opens what it opened before.
            store.writeInt(name, m_runOnly.storedPortIndex);
        else if (setting.box)
            store.writeInt(name, setting.box->currentIndex());
        else if (setting.check)
            store.writeInt(name, setting.check->isChecked() ? 1 : 0);
        else if (setting.action)
            store.writeInt(name, setting.action->isChecked() ? 1 : 0);
        else if (setting.number)
            store.writeInt(name, static_cast<int>(*setting.number));
        else if (setting.points)
            store.writeInt(name, *setting.points);
        else
            store.writeInt(name, setting.slider->value());
    }
    store.close();
}

void TFmain::ApplyStartOptions(const kirt::StartOptions& options)
{
    if (!options.device.isEmpty())
        m_runOnly = {kirt::devicePort(options), options.device,
                     m_ui->SerialPortComboBox->currentIndex()};
    if (!options.port.isEmpty()) {
        m_ui->SerialPortComboBox->setCurrentIndex(kirt::portIndex(options.port));
        SerialPortComboBoxClick();
    } else if (!options.device.isEmpty()) {
        // The device was mapped to COM1 when no port was named.
        m_ui->SerialPortComboBox->setCurrentIndex(0);
        SerialPortComboBoxClick();
    }
    if (options.baudIndex >= 0) {
        m_ui->BaudRateComboBox->setCurrentIndex(options.baudIndex);
        BaudRateComboBoxClick();
    } else if (kirt::customBaudAllowed(options.customBaud)) {
        m_picks.customBaudRate = options.customBaud;
        m_ui->BaudRateComboBox->setCurrentIndex(kirt::CustomBaudIndex);
        showCustomBaudRate();
        BaudRateComboBoxClick();
    }
    if (!options.workbench.isEmpty())
        OpenWorkbench(options.workbench);
    UpdateStatusLine();
    if (options.open && !portOpen())
        COM_BitBtnClick();
}
