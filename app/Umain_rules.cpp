// The protocol board: four rules, each handler passing its rule number to one routine; the
// match of every received byte and the answer it may trigger.
#include "app/Umain.h"

#include "ui/datalineedit.h"
#include "ui_Umain.h"

void TFmain::resetProtocolState()
{
    for (RuleRow& row : m_ruleRows)
        row.rule = kirt::ProtocolRule{};
}

void TFmain::ProtocolFormatComboBoxClick(int n)
{
    m_ruleFormatBeforePick = m_ruleRows.row(n).rule.format();
    SetProtocolFormat(n);
}

void TFmain::SetProtocolFormat(int n)
{
    RuleRow& row = m_ruleRows.row(n);
    const kirt::DataFormat format = kirt::dataFormatFromIndex(row.format->currentIndex());
    row.rule.setFormat(format);
    row.receivePacket->setMaxLength(kirt::fieldLimit(format));
    row.response->setMaxLength(kirt::fieldLimit(format));
    if (format != m_ruleFormatBeforePick) {
        // Emptying the receive packet parses it again, which switches the rule off.
        row.receivePacket->clear();
        row.response->clear();
    }
}

void TFmain::ParseReceivePacket(int n)
{
    RuleRow& row = m_ruleRows.row(n);
    const std::uint32_t length = row.rule.parse(row.receivePacket->fieldText());
    if (length == 0 && row.enable->currentIndex() == 1) {
        // Off first, so the change that emptying raises finds nothing left to do.
        row.enable->setCurrentIndex(0);
        row.receivePacket->clear();
    }
    row.receivePacket->keepLastLine();
}

void TFmain::EnableProtocolRule(int n)
{
    ParseReceivePacket(n);
    m_ruleRows.row(n).rule.resetResponseCount();
}

char16_t TFmain::FilterProtocolKey(int n, char16_t key) const
{
    return kirt::FilterDataKey(kirt::dataFormatFromIndex(m_ruleRows.row(n).format->currentIndex()),
                               key);
}

void TFmain::MatchProtocolByte(int n, std::uint8_t byte)
{
    RuleRow& row = m_ruleRows.row(n);
    if (row.enable->currentIndex() != 1)
        return;
    if (!row.rule.match(byte))
        return;
    SendProtocolResponse(n);
    row.responseCount->setText(kirt::responseCountCaption(n, row.rule.responseCount()));
}

void TFmain::SendProtocolResponse(int n)
{
    if (!m_portOpen)
        return;
    const RuleRow& row = m_ruleRows.row(n);
    kirt::LoadTransmitText(m_transmitBuffer, row.response->fieldText());
    const std::uint32_t count = kirt::ConvertTransmitText(
        m_transmitBuffer, kirt::dataFormatFromIndex(row.format->currentIndex()));
    if (count == 0)
        return;
    WriteComBytes(m_transmitBuffer.data(), count);
    UpdateStatusLine();
}
