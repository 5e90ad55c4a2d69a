// The terminal view: the board's console, emulated, reading along from the moment the port
// opens whether it is in front or not, beside the display, log and rules, which go on as before.
#include "app/Umain.h"

#include "ui/receivedisplay.h"
#include "ui/terminalpanel.h"
#include "ui/terminalscreen.h"
#include "ui_Umain.h"

#include <QComboBox>

namespace {

constexpr int ScrollbackLines[] = {10000, 50000, 100000};

} // namespace

void TFmain::setUpTerminal()
{
    m_terminal = new kirt::TerminalPanel(this);
    m_ui->ClientAreaLayout->addWidget(m_terminal, 1, 0);
    m_terminal->hide();
    kirt::TerminalScreen* screen = m_terminal->screen();
    // Typed keys take the window's one write path: held while a transfer has the port, shown
    // when "Show Sent Data" is on.
    connect(screen, &kirt::TerminalScreen::bytesToSend, this, [this](const QByteArray& bytes) {
        WriteComBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      static_cast<std::uint32_t>(bytes.size()));
    });
    connect(screen, &kirt::TerminalScreen::windowKey, this, &TFmain::terminalWindowKey);
    port().addReceiver(screen);
}

bool TFmain::terminalInFront() const
{
    return m_terminal && !m_terminal->isHidden();
}

bool TFmain::terminalTakesKeys(const QWidget* control) const
{
    return m_terminal && control == m_terminal->screen();
}

void TFmain::TerminalView_BitBtnClick()
{
    if (!terminalInFront())
        bringViewToFront(m_terminal, m_ui->TerminalView_BitBtn);
    m_terminal->screen()->setFocus();
}

void TFmain::terminalWindowKey(int n)
{
    // The commands act and the terminal stays in front (see afterComClick; F3 clears the
    // terminal); the view keys still change the view, as that is all they do.
    int key = Qt::Key_F1 + n - 1;
    FormKeyDown(key, Qt::NoModifier);
    if (terminalInFront())
        m_terminal->screen()->setFocus();
}

void TFmain::applyTerminalSettings()
{
    const Ui::TFmain* ui = m_ui.get();
    kirt::TerminalOptions options;
    options.enter = static_cast<kirt::TerminalOptions::Enter>(
        std::max(0, ui->TerminalEnterComboBox->currentIndex()));
    options.backspace = static_cast<kirt::TerminalOptions::Backspace>(
        std::max(0, ui->TerminalBackspaceComboBox->currentIndex()));
    options.encoding = static_cast<kirt::TerminalOptions::Encoding>(
        std::max(0, ui->TerminalCharsetComboBox->currentIndex()));
    options.localEcho = ui->TerminalEchoComboBox->currentIndex() == 1;
    const int lines = ui->TerminalScrollbackComboBox->currentIndex();
    options.scrollbackLines = ScrollbackLines[lines >= 0 && lines < 3 ? lines : 0];
    m_terminal->screen()->setOptions(options);
}
