// Workbench files: the nine transmit lines, the four rules and the auto interval (and the port
// with its line settings, and how the plot shows its series), kept in a file of their own and
// brought back through the handlers a user's own changes run; and the lines kept between runs when
// the user wants them.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "config/profile.h"
#include "ui/datalineedit.h"
#include "ui/plotpanel.h"
#include "ui_Umain.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QTimer>

namespace {

QList<kirt::FileFilter> workbenchFilters()
{
    return {{QStringLiteral("Workbench Files(*.kirt)"), QStringLiteral("*.kirt")},
            {QStringLiteral("All Files(*.*)"), QStringLiteral("*")}};
}

int indexOf(kirt::DataFormat format)
{
    return static_cast<int>(format);
}

} // namespace

void TFmain::WorkbenchOpenClick()
{
    const QString path = kirt::dialogs().openFile(this, workbenchFilters(), 0, nullptr);
    if (!path.isEmpty())
        OpenWorkbench(path);
}

void TFmain::WorkbenchSaveClick()
{
    const QString path =
        kirt::dialogs().saveFile(this, workbenchFilters(), 0, QStringLiteral("kirt"));
    if (!path.isEmpty())
        SaveWorkbench(path);
}

bool TFmain::OpenWorkbench(const QString& path)
{
    const kirt::WorkbenchRead read = kirt::readWorkbench(path);
    if (!read.workbench) {
        kirt::dialogs().error(this, QStringLiteral("Cannot open workbench \"%1\".").arg(path),
                              read.reason);
        return false;
    }
    applyWorkbench(*read.workbench);
    return true;
}

bool TFmain::SaveWorkbench(const QString& path)
{
    QString reason;
    if (kirt::writeWorkbench(path, currentWorkbench(true), &reason))
        return true;
    kirt::dialogs().error(this, QStringLiteral("Cannot write workbench \"%1\".").arg(path), reason);
    return false;
}

QString TFmain::keptWorkbenchPath() const
{
    return m_profile->folder() + QStringLiteral("/last.kirt");
}

void TFmain::saveKeptWorkbench()
{
    // A second window of the profile leaves the first one's lines alone.
    if (!m_ui->KeepWorkbenchAction->isChecked() || !m_profile->owned())
        return;
    const QString path = keptWorkbenchPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString reason;
    // Lines and rules only: the port and its settings are kept in the settings already.
    if (!kirt::writeWorkbench(path, currentWorkbench(false), &reason))
        kirt::dialogs().error(this, QStringLiteral("Cannot write workbench \"%1\".").arg(path),
                              reason);
}

void TFmain::openKeptWorkbench()
{
    const QString path = keptWorkbenchPath();
    // A refused file is reported once and left where it is, for the user to look at.
    if (m_ui->KeepWorkbenchAction->isChecked() && QFileInfo::exists(path))
        OpenWorkbench(path);
}

kirt::Workbench TFmain::currentWorkbench(bool withPort) const
{
    kirt::Workbench bench;
    for (int n = 1; n <= TransmitRows; ++n) {
        const TransmitRow& row = m_transmitRows.row(n);
        bench.lines[static_cast<std::size_t>(n - 1)] = {row.edit->fieldText(), row.lineFormat,
                                                        row.autoSend->currentIndex() == 1,
                                                        row.crlf->currentIndex() == 1};
    }
    for (int n = 1; n <= ProtocolRules; ++n) {
        const RuleRow& row = m_ruleRows.row(n);
        bench.rules[static_cast<std::size_t>(n - 1)] = {
            row.receivePacket->fieldText(), row.response->fieldText(),
            kirt::dataFormatFromIndex(row.format->currentIndex()), row.enable->currentIndex() == 1};
    }
    bench.autoIntervalPosition = m_ui->TrackBar1->value();
    bench.plot = m_plotPanel->viewSettings();
    if (withPort) {
        kirt::Workbench::Port kept;
        kept.name = m_ui->SerialPortComboBox->currentText();
        kept.baudRate = port().settings().baudRate;
        kept.dataBits = port().settings().dataBits;
        kept.stopBits = port().settings().stopBits;
        kept.parity = port().settings().parity;
        kept.flowControl = port().settings().flowControl;
        kept.dtr = m_ui->DTRButton->isChecked();
        kept.rts = m_ui->RTSButton->isChecked();
        bench.port = kept;
    }
    return bench;
}

void TFmain::applyPortSettings(const kirt::Workbench::Port& port)
{
    // Each as a user's pick: the line settings take effect at the next open, the lines at once.
    m_ui->SerialPortComboBox->setCurrentIndex(kirt::portIndex(port.name));
    SerialPortComboBoxClick();
    const int baudIndex = kirt::baudRateIndex(port.baudRate);
    if (baudIndex == kirt::CustomBaudIndex) {
        m_picks.customBaudRate = port.baudRate;
        m_ui->BaudRateComboBox->setCurrentIndex(baudIndex);
        showCustomBaudRate();
    } else {
        m_ui->BaudRateComboBox->setCurrentIndex(baudIndex);
    }
    BaudRateComboBoxClick();
    m_ui->DataBitsComboBox->setCurrentIndex(kirt::dataBitsIndex(port.dataBits));
    DataBitsComboBoxClick();
    m_ui->StopBitsComboBox->setCurrentIndex(kirt::choiceIndex(port.stopBits));
    StopBitsComboBoxClick();
    m_ui->ParityBitsComboBox->setCurrentIndex(kirt::choiceIndex(port.parity));
    ParityBitsComboBoxClick();
    m_ui->FlowControlComboBox->setCurrentIndex(kirt::choiceIndex(port.flowControl));
    FlowControlComboBoxClick();
    if (m_ui->DTRButton->isChecked() != port.dtr) {
        m_ui->DTRButton->setChecked(port.dtr);
        DTRButtonClick();
    }
    if (m_ui->RTSButton->isChecked() != port.rts) {
        m_ui->RTSButton->setChecked(port.rts);
        RTSButtonClick();
    }
    UpdateStatusLine();
}

void TFmain::applyWorkbench(const kirt::Workbench& bench)
{
    // The lines change under a running cycle: it stops, as a user's STOP would.
    if (m_autoTransIntervalTimer->isActive())
        SendStopBtnClick();

    const kirt::DataFormat activeBefore = m_transmit.activeFormat;
    for (int n = 1; n <= TransmitRows; ++n) {
        const kirt::Workbench::Line& line = bench.lines[static_cast<std::size_t>(n - 1)];
        TransmitRow& row = m_transmitRows.row(n);
        // The format first: a changed format empties the line, which then takes its text.
        row.format->setCurrentIndex(indexOf(line.format));
        TransmitFormatComboBoxClick(n);
        row.edit->setPlainText(line.text);
        row.autoSend->setCurrentIndex(line.autoSend ? 1 : 0);
        row.crlf->setCurrentIndex(line.crlf ? 1 : 0);
    }
    TransmitAutoComboBoxClick();
    // Typing goes on in the format of the line the user was in.
    m_transmit.activeFormat = m_transmit.currentLine > 0
                                  ? m_transmitRows.row(m_transmit.currentLine).lineFormat
                                  : activeBefore;

    for (int n = 1; n <= ProtocolRules; ++n) {
        const kirt::Workbench::Rule& rule = bench.rules[static_cast<std::size_t>(n - 1)];
        RuleRow& row = m_ruleRows.row(n);
        // Off while its fields change, so no intermediate text switches it or answers.
        row.enable->setCurrentIndex(0);
        row.format->setCurrentIndex(indexOf(rule.format));
        ProtocolFormatComboBoxClick(n);
        row.receivePacket->setPlainText(rule.receivePacket);
        row.response->setPlainText(rule.response);
        // The enable last: it parses the packet, and an empty packet leaves the rule off.
        row.enable->setCurrentIndex(rule.enabled ? 1 : 0);
        EnableProtocolRule(n);
    }

    {
        // One apply of the position, whether or not it differs from the present one.
        const QSignalBlocker blocker(m_ui->TrackBar1);
        m_ui->TrackBar1->setValue(bench.autoIntervalPosition);
    }
    TrackBar1Change();
    if (bench.port)
        applyPortSettings(*bench.port);
    if (bench.plot)
        m_plotPanel->applyViewSettings(*bench.plot);
}
