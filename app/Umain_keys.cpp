// Keys, commands, the menu, typing into the display, key help and the About box.
#include "app/Umain.h"

#include "app/Uabout.h"
#include "app/dialogs.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QApplication>
#include <QKeyEvent>
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

// The control character that Ctrl with this key types (Ctrl+A = 0x01 .. Ctrl+_ = 0x1F), or 0.
char16_t controlCharacter(int key)
{
    if (key >= Qt::Key_At && key <= Qt::Key_Underscore)
        return static_cast<char16_t>(key - Qt::Key_At);
    return 0;
}

} // namespace

// Key preview: an application-wide filter, so the window sees every key before the focused
// control does. A key is offered up the parent chain when a control ignores it, so it is acted
// on only where it is first delivered: the window's focus widget.
struct TFmain::KeysState : QObject
{
    explicit KeysState(TFmain& owner) : window(owner) {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    bool menuTakes(const QKeyEvent* event) const;
    bool preview(QWidget* receiver, QKeyEvent* event);

    TFmain& window;
    std::array<QAction*, 8> menuActions{};
    // The digits of a half-typed hexadecimal pair; the count lives with the window.
    std::array<char16_t, 2> hexKeyPair{};
};

void TFmain::AreaDeleter::operator()(KeysState* state) const
{
    delete state;
}

void TFmain::connectKeys()
{
    m_keys.reset(new KeysState(*this));
    Ui::TFmain* ui = m_ui.get();
    const std::pair<QAction*, void (TFmain::*)()> menu[] = {
        {ui->FileOpen, &TFmain::FileOpenClick},     {ui->FileSave, &TFmain::FileSaveClick},
        {ui->FileSaveAs, &TFmain::FileSaveAsClick}, {ui->RunTimeSave1, &TFmain::RunTimeSave1Click},
        {ui->FilePrint, &TFmain::FilePrintClick},   {ui->Exit, &TFmain::ExitClick},
        {ui->UserMamual, &TFmain::UserMamualClick}, {ui->About, &TFmain::AboutClick},
    };
    static_assert(std::size(menu) == std::tuple_size_v<decltype(KeysState::menuActions)>);
    for (std::size_t i = 0; i < std::size(menu); ++i) {
        // Unique, so an item that another area also wires still runs its command once.
        connect(menu[i].first, &QAction::triggered, this, menu[i].second, Qt::UniqueConnection);
        m_keys->menuActions[i] = menu[i].first;
    }
    connect(ui->EXIT_BitBtn, &QPushButton::clicked, this, &TFmain::EXIT_BitBtnClick,
            Qt::UniqueConnection);
    qApp->installEventFilter(m_keys.get());
}

bool TFmain::KeysState::menuTakes(const QKeyEvent* event) const
{
    const QKeySequence pressed(
        QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
    for (const QAction* action : menuActions)
        if (action->isEnabled() && action->isVisible() && !action->shortcut().isEmpty() &&
            action->shortcut().matches(pressed) == QKeySequence::ExactMatch)
            return true;
    return false;
}

bool TFmain::KeysState::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) || !watched->isWidgetType())
        return false;
    auto* receiver = static_cast<QWidget*>(watched);
    if (receiver->window() != &window)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::ShortcutOverride) {
        // Edit controls claim chords such as Ctrl+A for themselves; the menu's shortcuts win.
        if (!menuTakes(key))
            return false;
        key->ignore();
        return true;
    }
    QWidget* focus = window.focusWidget();
    if (receiver != (focus ? focus : &window))
        return false;
    return preview(receiver, key);
}

bool TFmain::KeysState::preview(QWidget* receiver, QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool wasVisible = receiver->isVisibleTo(&window);
    const QWidget* focusBefore = window.focusWidget();
    int key = event->key();
    window.FormKeyDown(key, modifiers);
    const bool consumed = key == 0;

    if (receiver == window.m_display) {
        const bool alt = modifiers & Qt::AltModifier;
        const bool ctrl = modifiers & Qt::ControlModifier;
        // Backspace loses its editing action but still types its character.
        if (consumed) {
            if (event->key() == Qt::Key_Backspace && !alt && !ctrl)
                window.mMessageKeyPress(u'\b');
            return true;
        }
        // Ctrl with a letter types a control character; menu shortcuts never get this far.
        if (ctrl && !alt) {
            if (const char16_t ch = controlCharacter(event->key()); ch != 0)
                return window.mMessageKeyPress(ch);
        }
        // Alt chords are commands, never typed characters.
        if (alt && !event->text().isEmpty())
            return true;
    }
    if (consumed)
        return true;
    // A command that hid the control or took the focus from it keeps the key from it too.
    return (wasVisible && !receiver->isVisibleTo(&window)) || window.focusWidget() != focusBefore;
}

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
        if (m_ui->mMessage->isVisibleTo(this))
            key = 0;
        break;
    case Qt::Key_Escape:
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
        QTimer::singleShot(0, m_keys.get(), [] { RefuseNextClose = false; });
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
    if (m_portOpen) {
        if (!dialogs().confirm(this, ExitQuestion))
            return;
        // Checked again: the port may have gone while the question was open, and the COM
        // button would open it instead.
        if (m_portOpen)
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
    CLEAR_BitBtnClick();
    for (const char* entry : KeyHelp) {
        m_display->appendLineBreak();
        if (*entry != '\0')
            m_display->appendData(QLatin1String(entry));
    }
    m_display->appendLineBreak();
    TrimDisplayLines();
    ScrollDisplayToEnd();
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

    // A receive pass that starts meanwhile skips its read; it resumes as it was.
    const bool rxWasEnabled = m_rxEnabled.exchange(false);
    m_display->moveCursor(QTextCursor::End);
    if (hex) {
        if (m_hexKeyPairCount >= m_keys->hexKeyPair.size())
            m_hexKeyPairCount = 0;
        m_keys->hexKeyPair[m_hexKeyPairCount] = key;
        ++m_hexKeyPairCount;
        if (m_hexKeyPairCount == m_keys->hexKeyPair.size()) {
            const char16_t high = m_keys->hexKeyPair[0];
            const char16_t low = m_keys->hexKeyPair[1];
            m_display->appendData(QString(QChar(high)) + QChar(low) + u' ');
            TrimDisplayLines();
            const std::uint8_t byte = kirt::DecodeHexPair(high, low);
            WriteComBytes(&byte, 1);
            m_hexKeyPairCount = 0;
        }
    } else {
        // CR goes out but is not shown; every other character is shown as it is sent.
        if (key != u'\r') {
            m_display->appendData(QString(QChar(key)));
            TrimDisplayLines();
        }
        const auto byte = static_cast<std::uint8_t>(key);
        WriteComBytes(&byte, 1);
    }
    ScrollDisplayToEnd();
    m_rxEnabled = rxWasEnabled;
    return true;
}
