// Keys, commands, the menu, typing into the display, key help and the About box.
#include "app/Umain.h"

#include "app/Uabout.h"
#include "app/dialogs.h"
#include "app/keypreview.h"
#include "ui/receivedisplay.h"
#include "ui/searchbar.h"
#include "ui/terminalpanel.h"
#include "ui/terminalscreen.h"
#include "ui_Umain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace {

// The key list written by the help command; an empty entry starts a new group.
constexpr const char* KeyHelp[] = {
    " < ALT+1 > Transmit Data Block No.1 Send",
    " < ALT+2 > Transmit Data Block No.2 Send",
    " < ALT+3 > Transmit Data Block No.3 Send",
    " < ALT+4 > Transmit Data Block No.4 Send",
    " < ALT+5 > Transmit Data Block No.5 Send",
    " < ALT+6 > Transmit Data Block No.6 Send",
    " < ALT+7 > Transmit Data Block No.7 Send",
    " < ALT+8 > Transmit Data Block No.8 Send",
    " < ALT+9 > Transmit Data Block No.9 Send",
    "",
    " < CTRL+O > File Open",
    " < CTRL+S > File Save",
    " < Shift+Ctrl+S > File Save As",
    "",
    " < F1 > HELP Button",
    " < F2 > COM ON/OFF Button",
    " < F3 > SCREEN CLEAR Button",
    " < F4 > RECEIVE VIEW Button",
    " < F5 > OPTION Button",
    " < F6 > SEND START Button",
    " < F7 > SEND STOP Button",
    " < F10 > or < CTRL+X > Program Exit",
};

const QString ExitQuestion = QStringLiteral("OK to exit from Kirt ?");

} // namespace

void TFmain::FormKeyDown(int& key, Qt::KeyboardModifiers modifiers)
{
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Delete:
        // The display is a terminal, not an editor.
        if (m_ui->mMessage->isVisibleTo(this)) {
            // End (with Ctrl too) is how a view held back from new data follows again.
            if (key == Qt::Key_End)
                m_display->followNow();
            key = 0;
        }
        break;
    case Qt::Key_Escape:
        // Esc in the search bar closes it, and the focus goes back to the display.
        if (m_searchBar->isVisible() && m_searchBar->isAncestorOf(focusWidget())) {
            m_searchBar->closeBar();
            key = 0;
            break;
        }
        ReceiveView_BitBtnClick();
        break;
    case Qt::Key_F4:
        ReceiveView_BitBtnClick();
        break;
    case Qt::Key_F1:
        UserMamualClick();
        break;
    case Qt::Key_F2:
        COM_BitBtnClick();
        break;
    case Qt::Key_F3:
        CLEAR_BitBtnClick();
        break;
    case Qt::Key_F5:
        OPTION_BitBtnClick();
        break;
    case Qt::Key_F6:
        SendStartBtnClick();
        break;
    case Qt::Key_F7:
        SendStopBtnClick();
        break;
    case Qt::Key_F8:
        PlotView_BitBtnClick();
        break;
    case Qt::Key_F9:
        TerminalView_BitBtnClick();
        break;
    case Qt::Key_F10:
        EXIT_BitBtnClick();
        break;
    default:
        break;
    }

    if (!(modifiers & Qt::AltModifier))
        return;
    if (key == Qt::Key_F4) {
        // The close that may follow this key is refused, but only that one: the flag is
        // dropped once this key press has been handled, whether or not a close came.
        RefuseNextClose = true;
        QTimer::singleShot(0, this, [] { RefuseNextClose = false; });
        return;
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_9 && !(modifiers & Qt::KeypadModifier)) {
        SendTransmitLine(key - Qt::Key_0);
        key = 0;
        return;
    }
    if (key == Qt::Key_X) {
        EXIT_BitBtnClick();
        key = 0;
    }
}

void TFmain::EXIT_BitBtnClick()
{
    if (portOpen()) {
        if (!kirt::dialogs().confirm(this, ExitQuestion))
            return;
        // Checked again: the port may have gone while the question was open, and the COM
        // button would open it instead.
        if (portOpen())
            COM_BitBtnClick();
    }
    close();
}

void TFmain::ExitClick()
{
    EXIT_BitBtnClick();
}

void TFmain::UserMamualClick()
{
    // The key list goes into the display, also when F1 comes from the terminal.
    clearDisplay();
    m_typing.hexKeyPair.count = 0;
    for (const char* entry : KeyHelp) {
        m_display->appendLineBreak();
        if (*entry != '\0')
            m_display->appendData(QLatin1String(entry));
    }
    m_display->appendLineBreak();
    TrimDisplayLines();
    ScrollDisplayToEnd();
}

void TFmain::EditCopyClick()
{
    if (terminalInFront())
        return m_terminal->screen()->copy();
    // Rows that only wrapped are joined, stamps included: the text as shown.
    m_display->copy();
}

void TFmain::EditPasteClick()
{
    if (terminalInFront())
        return m_terminal->screen()->paste();
    // The clipboard goes out as if it were typed into the display: a line break as Enter, in a
    // HEX display only the hex digits, a character beyond the 8-bit set not at all.
    QString text = QGuiApplication::clipboard()->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    text.replace(u'\n', u'\r');
    for (const QChar ch : std::as_const(text))
        mMessageKeyPress(ch.unicode());
}

void TFmain::showDisplayMenu(const QPoint& at)
{
    // The window's own chords: the editor's Ctrl+C and Ctrl+V go to the board.
    QMenu menu(m_display);
    menu.addAction(m_ui->EditCopy);
    menu.addAction(m_ui->EditPaste);
    menu.addAction(m_ui->EditSelectAll);
    menu.addSeparator();
    menu.addAction(m_ui->EditFind);
    m_ui->EditCopy->setEnabled(m_display->textCursor().hasSelection());
    m_ui->EditPaste->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    menu.exec(m_display->viewport()->mapToGlobal(at));
    m_ui->EditCopy->setEnabled(true);
    m_ui->EditPaste->setEnabled(true);
}

void TFmain::EditSelectAllClick()
{
    if (terminalInFront())
        return m_terminal->screen()->selectAll();
    m_display->selectAll();
}

void TFmain::EditFindClick()
{
    if (terminalInFront())
        return m_terminal->openSearch();
    if (m_display->isHidden())
        ShowReceiveView();
    m_searchBar->openBar();
}

void TFmain::AboutClick()
{
    // A fresh box each time, so the memory figures are read anew.
    QPointer<Tabout> box = new Tabout(this);
    about = box;
    box->exec();
    delete box;
    about = nullptr;
}

char16_t TFmain::EditKeyPress(char16_t key) const
{
    return kirt::FilterDataKey(m_transmit.activeFormat, key);
}

char16_t TFmain::ComboBoxKeyPress(char16_t)
{
    // No item is picked by typing its first letter; arrows and the mouse still work.
    return 0;
}

char16_t TFmain::SerialPortSettingKeyPress(char16_t)
{
    return 0;
}

bool TFmain::filterTypedKey(QObject* watched, QKeyEvent* event)
{
    char16_t ch = 0;
    if (!kirt::typedCharacter(event, ch))
        return false;
    if (watched == m_ui->NewLineCharEdit) {
        QLineEdit* edit = m_ui->NewLineCharEdit;
        if (edit->text().size() - edit->selectedText().size() >= m_typing.newLineLimit)
            return true;
        const char16_t filtered = EditKeyPress(ch);
        if (filtered == ch)
            return false;
        if (filtered != 0)
            m_ui->NewLineCharEdit->insert(QString(QChar(filtered)));
        return true;
    }
    if (watched == m_ui->mMessage)
        return mMessageKeyPress(ch);
    if (qobject_cast<QAbstractButton*>(watched))
        return EditKeyPress(ch) == 0 && ch == u'\r';
    return false;
}

// Text an input method commits follows the rules of typed keys.
void TFmain::filterNewLineCommit(QInputMethodEvent* event)
{
    if (event->commitString().isEmpty())
        return;
    const QLineEdit* edit = m_ui->NewLineCharEdit;
    QString kept;
    for (const QChar ch : event->commitString())
        if (const char16_t key = EditKeyPress(ch.unicode()); key != 0)
            kept += QChar(key);
    const auto room = m_typing.newLineLimit - (edit->text().size() - edit->selectedText().size());
    kept.truncate(std::max<qsizetype>(room, 0));
    event->setCommitString(kept, event->replacementStart(), event->replacementLength());
}

bool TFmain::mMessageKeyPress(char16_t key)
{
    // Tab moves the focus on, as it does from any other control.
    if (key == u'\t')
        return false;
    const bool hex = m_ui->DisplayFormatComboBox->currentIndex() == 0;
    if (hex)
        key = kirt::FilterHexDigitKey(key);
    // One typed character is one byte of the display's 8-bit character set.
    if (key == 0 || key > 0xFF)
        return true;

    if (port().claimed()) {
        port().write(nullptr, 0); // held while another has the port, and said so
        return true;
    }
    // A receive pass that starts meanwhile skips its read; it resumes as it was.
    const bool rxWasEnabled = port().session().exchangeRxEnabled(false);
    m_display->followNow();
    if (hex) {
        HexKeyPair& pair = m_typing.hexKeyPair;
        if (pair.count >= pair.digits.size())
            pair.count = 0;
        pair.digits[pair.count] = key;
        ++pair.count;
        if (pair.count == pair.digits.size()) {
            const char16_t high = pair.digits[0];
            const char16_t low = pair.digits[1];
            // With sent data on show the write shows the byte, in the sent colour.
            if (!showingSent()) {
                m_display->appendData(QString(QChar(high)) + QChar(low) + u' ');
                TrimDisplayLines();
            }
            const std::uint8_t byte = kirt::DecodeHexPair(high, low);
            WriteComBytes(&byte, 1);
            pair.count = 0;
        }
    } else {
        // CR goes out but is not shown; every other character is shown as it is sent. With
        // sent data on show, the write shows every byte, CR as its line break.
        if (key != u'\r' && !showingSent()) {
            m_display->appendData(QString(QChar(key)));
            TrimDisplayLines();
        }
        const auto byte = static_cast<std::uint8_t>(key);
        WriteComBytes(&byte, 1);
    }
    ScrollDisplayToEnd();
    port().session().setRxEnabled(rxWasEnabled);
    return true;
}
