// Workbench files: the nine transmit lines, the four rules and the auto interval, kept in a
// file of their own and brought back through the handlers a user's own changes run.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "ui/datalineedit.h"
#include "ui_Umain.h"

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
    if (kirt::writeWorkbench(path, currentWorkbench(), &reason))
        return true;
    kirt::dialogs().error(this, QStringLiteral("Cannot write workbench \"%1\".").arg(path), reason);
    return false;
}

kirt::Workbench TFmain::currentWorkbench() const
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
    return bench;
}

void TFmain::applyWorkbench(const kirt::Workbench& bench)
{
    // The lines change under a running cycle: it stops, as a user's STOP would.
    if (m_autoTransIntervalTimer->isActive())
        SendStopBtnClick();

    const kirt::DataFormat activeBefore = m_activeTransmitFormat;
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
    m_activeTransmitFormat = m_currentTransmitLine > 0
                                 ? m_transmitRows.row(m_currentTransmitLine).lineFormat
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
}
