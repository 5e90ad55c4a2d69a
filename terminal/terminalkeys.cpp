// What the keys send. Keys with a sequence of their own go through libvterm's encoder, so the
// board's modes (application cursor and keypad keys) are followed; text, Enter, Backspace,
// Ctrl and Alt are done here, as a serial console expects them.
#include "terminal/terminalemulator.h"

#include <vterm.h>

namespace kirt {

namespace {

VTermKey specialKey(int key, bool keypad)
{
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return static_cast<VTermKey>(VTERM_KEY_FUNCTION(key - Qt::Key_F1 + 1));
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return static_cast<VTermKey>(VTERM_KEY_KP_0 + (key - Qt::Key_0));
        switch (key) {
        case Qt::Key_Asterisk:
            return VTERM_KEY_KP_MULT;
        case Qt::Key_Plus:
            return VTERM_KEY_KP_PLUS;
        case Qt::Key_Comma:
            return VTERM_KEY_KP_COMMA;
        case Qt::Key_Minus:
            return VTERM_KEY_KP_MINUS;
        case Qt::Key_Period:
            return VTERM_KEY_KP_PERIOD;
        case Qt::Key_Slash:
            return VTERM_KEY_KP_DIVIDE;
        case Qt::Key_Equal:
            return VTERM_KEY_KP_EQUAL;
        default:
            break;
        }
    }
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VTERM_KEY_TAB;
    case Qt::Key_Up:
        return VTERM_KEY_UP;
    case Qt::Key_Down:
        return VTERM_KEY_DOWN;
    case Qt::Key_Left:
        return VTERM_KEY_LEFT;
    case Qt::Key_Right:
        return VTERM_KEY_RIGHT;
    case Qt::Key_Insert:
        return VTERM_KEY_INS;
    case Qt::Key_Delete:
        return VTERM_KEY_DEL;
    case Qt::Key_Home:
        return VTERM_KEY_HOME;
    case Qt::Key_End:
        return VTERM_KEY_END;
    case Qt::Key_PageUp:
        return VTERM_KEY_PAGEUP;
    case Qt::Key_PageDown:
        return VTERM_KEY_PAGEDOWN;
    default:
        return VTERM_KEY_NONE;
    }
}

// The control code of Ctrl with a key, as terminals have sent it since the VT100; -1 if none.
int controlCode(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    switch (key) {
    case Qt::Key_Space:
    case Qt::Key_At:
    case Qt::Key_2:
        return 0x00;
    case Qt::Key_BracketLeft:
    case Qt::Key_3:
        return 0x1b;
    case Qt::Key_Backslash:
    case Qt::Key_4:
        return 0x1c;
    case Qt::Key_BracketRight:
    case Qt::Key_5:
        return 0x1d;
    case Qt::Key_AsciiCircum:
    case Qt::Key_6:
        return 0x1e;
    case Qt::Key_Underscore:
    case Qt::Key_Slash:
    case Qt::Key_7:
        return 0x1f;
    case Qt::Key_Question:
    case Qt::Key_8:
        return 0x7f;
    default:
        return -1;
    }
}

} // namespace

QByteArray TerminalEmulator::encoded(const QString& text) const
{
    return m_utf8 ? text.toUtf8() : text.toLatin1();
}

QByteArray TerminalEmulator::enterBytes(const TerminalOptions& options) const
{
    switch (options.enter) {
    case TerminalOptions::Enter::Lf:
        return QByteArrayLiteral("\n");
    case TerminalOptions::Enter::CrLf:
        return QByteArrayLiteral("\r\n");
    case TerminalOptions::Enter::Cr:
        break;
    }
    return QByteArrayLiteral("\r");
}

QByteArray TerminalEmulator::keyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                                      const TerminalOptions& options)
{
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    // Alt puts ESC before whatever the key sends without it.
    const QByteArray prefix = alt ? QByteArrayLiteral("\x1b") : QByteArray();

    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return prefix + enterBytes(options);
    case Qt::Key_Backspace: {
        // Ctrl gives the other of the two, as xterm does.
        const bool del = (options.backspace == TerminalOptions::Backspace::Del) != ctrl;
        return prefix + (del ? QByteArrayLiteral("\x7f") : QByteArrayLiteral("\b"));
    }
    case Qt::Key_Escape:
        return prefix + QByteArrayLiteral("\x1b");
    default:
        break;
    }

    const VTermKey special = specialKey(key, keypad);
    if (special != VTERM_KEY_NONE) {
        int mod = VTERM_MOD_NONE;
        if (shift || key == Qt::Key_Backtab)
            mod |= VTERM_MOD_SHIFT;
        if (ctrl)
            mod |= VTERM_MOD_CTRL;
        if (alt)
            mod |= VTERM_MOD_ALT;
        const qsizetype before = m_output.size();
        vterm_keyboard_key(m_vt, special, static_cast<VTermModifier>(mod));
        const QByteArray bytes = m_output.mid(before);
        m_output.truncate(before);
        return bytes;
    }

    if (ctrl) {
        const int code = controlCode(key);
        if (code >= 0)
            return prefix + QByteArray(1, static_cast<char>(code));
    }
    if (!text.isEmpty())
        return prefix + encoded(text);
    // Alt with a letter may come without text.
    if (alt && key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        QChar ch(key);
        return prefix + encoded(shift ? QString(ch) : QString(ch.toLower()));
    }
    return {};
}

QByteArray TerminalEmulator::pasteBytes(const QString& text, const TerminalOptions& options)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    const qsizetype before = m_output.size();
    vterm_keyboard_start_paste(m_vt);
    const QByteArray open = m_output.mid(before);
    m_output.truncate(before);
    // Inside brackets an ESC of the text could end them early.
    if (!open.isEmpty())
        lines.remove(u'\x1b');
    QByteArray bytes = open + encoded(lines).replace('\n', enterBytes(options));
    vterm_keyboard_end_paste(m_vt);
    bytes += m_output.mid(before);
    m_output.truncate(before);
    return bytes;
}

} // namespace kirt
