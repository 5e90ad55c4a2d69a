// The protocol board: four rules, each handler passing its rule number to one routine.
#include "app/Umain.h"

#include "ui/datalineedit.h"
#include "ui_Umain.h"

void TFmain::resetProtocolState()
{
    for (auto& rule : m_rules)
        rule = kirt::ProtocolRule{};
}

void TFmain::ProtocolFormatComboBoxClick(int n)
{
    m_ruleFormatBeforePick = m_rules[static_cast<std::size_t>(n)].format();
    SetProtocolFormat(n);
}

void TFmain::SetProtocolFormat(int n)
{
    const auto i = static_cast<std::size_t>(n);
    const kirt::DataFormat format = kirt::dataFormatFromIndex(m_protocolFormat[i]->currentIndex());
    m_rules[i].setFormat(format);
    m_rxEdit[i]->setMaxLength(kirt::fieldLimit(format));
    m_txEdit[i]->setMaxLength(kirt::fieldLimit(format));
    if (format != m_ruleFormatBeforePick) {
        // Emptying the receive packet parses it again, which switches the rule off.
        m_rxEdit[i]->clear();
        m_txEdit[i]->clear();
    }
}

void TFmain::ParseReceivePacket(int n)
{
    const auto i = static_cast<std::size_t>(n);
    const std::uint32_t length = m_rules[i].parse(m_rxEdit[i]->fieldText());
    if (length == 0 && m_protocolEnable[i]->currentIndex() == 1) {
        // Off first, so the change that emptying raises finds nothing left to do.
        m_protocolEnable[i]->setCurrentIndex(0);
        m_rxEdit[i]->clear();
    }
    m_rxEdit[i]->keepLastLine();
}

void TFmain::EnableProtocolRule(int n)
{
    ParseReceivePacket(n);
    m_rules[static_cast<std::size_t>(n)].resetResponseCount();
}

char16_t TFmain::FilterProtocolKey(int n, char16_t key) const
{
    return kirt::FilterProtocolKey(
        kirt::dataFormatFromIndex(m_protocolFormat[static_cast<std::size_t>(n)]->currentIndex()),
        key);
}
