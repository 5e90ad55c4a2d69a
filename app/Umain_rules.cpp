// The protocol board: four rules, each handler passing its rule number to one routine; the
// match of every received byte and the answer it may trigger.
#include "app/Umain.h"

#include "ui/datalineedit.h"
#include "ui_Umain.h"

void TFmain::resetProtocolState()
{
    port().pipeline().resetRules();
}

void TFmain::ProtocolFormatComboBoxClick(int n)
{
    m_picks.ruleFormatBefore = port().pipeline().rule(n).format();
    SetProtocolFormat(n);
}

void TFmain::SetProtocolFormat(int n)
{
    RuleRow& row = m_ruleRows.row(n);
    const kirt::DataFormat format = kirt::dataFormatFromIndex(row.format->currentIndex());
    port().pipeline().rule(n).setFormat(format);
    row.receivePacket->setMaxLength(kirt::fieldLimit(format));
    row.response->setMaxLength(kirt::fieldLimit(format));
    if (format != m_picks.ruleFormatBefore) {
        // Emptying the receive packet parses it again, which switches the rule off.
        row.receivePacket->clear();
        row.response->clear();
    }
}

void TFmain::ParseReceivePacket(int n)
{
    RuleRow& row = m_ruleRows.row(n);
    const std::uint32_t length = port().pipeline().rule(n).parse(row.receivePacket->fieldText());
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
    port().pipeline().rule(n).resetResponseCount();
}

char16_t TFmain::FilterProtocolKey(int n, char16_t key) const
{
    return kirt::FilterDataKey(kirt::dataFormatFromIndex(m_ruleRows.row(n).format->currentIndex()),
                               key);
}

void TFmain::MatchProtocolByte(int n, std::uint8_t byte)
{
    port().pipeline().MatchProtocolByte(n, byte);
}

void TFmain::SendProtocolResponse(int n)
{
    syncRule(n);
    const QByteArray& response = port().pipeline().ruleResponse(n);
    if (!response.isEmpty())
        writeResponse(n, reinterpret_cast<const std::uint8_t*>(response.constData()),
                      static_cast<std::uint32_t>(response.size()));
}
