#include "app/keypreview.h"

#include <QAction>
#include <QKeyEvent>
#include <QWidget>

namespace kirt {

namespace {

// The control character that Ctrl with this key types (Ctrl+A = 0x01 .. Ctrl+_ = 0x1F), or 0.
char16_t controlCharacter(int key)
{
    if (key >= Qt::Key_At && key <= Qt::Key_Underscore)
        return static_cast<char16_t>(key - Qt::Key_At);
    return 0;
}

bool isDeletingKey(const QKeyEvent* event)
{
    // X11 gives Delete the text 7Fh and Backspace 08h; they edit, they are not characters.
    return event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
}

} // namespace

bool typedCharacter(const QKeyEvent* event, char16_t& key)
{
    if (isDeletingKey(event))
        return false;
    const QString text = event->text();
    if (text.size() != 1)
        return false;
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return false;
    key = text[0].unicode();
    return true;
}

bool TypedKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    char16_t ch = 0;
    if (event->type() == QEvent::KeyPress && typedCharacter(static_cast<QKeyEvent*>(event), ch))
        return m_rule(ch) == 0;
    return QObject::eventFilter(watched, event);
}

KeyPreview::KeyPreview(QWidget& window, QWidget& display, QList<QAction*> menu, Handlers handlers)
    : m_window(window), m_display(display), m_menu(std::move(menu)), m_handlers(std::move(handlers))
{
}

bool KeyPreview::menuTakes(const QKeyEvent* event) const
{
    const QKeySequence pressed(
        QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
    for (const QAction* action : m_menu)
        if (action->isEnabled() && action->isVisible() && !action->shortcut().isEmpty() &&
            action->shortcut().matches(pressed) == QKeySequence::ExactMatch)
            return true;
    return false;
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) || !watched->isWidgetType())
        return false;
    auto* receiver = static_cast<QWidget*>(watched);
    if (receiver->window() != &m_window)
        return false;
    if (m_handlers.takesEveryKey && m_handlers.takesEveryKey(receiver))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::ShortcutOverride) {
        // Edit controls claim chords such as Ctrl+A for themselves; the menu's shortcuts win.
        if (!menuTakes(key))
            return false;
        key->ignore();
        return true;
    }
    QWidget* focus = m_window.focusWidget();
    if (receiver != (focus ? focus : &m_window))
        return false;
    return preview(receiver, key);
}

bool KeyPreview::preview(QWidget* receiver, QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool wasVisible = receiver->isVisibleTo(&m_window);
    const QWidget* focusBefore = m_window.focusWidget();
    int key = event->key();
    m_handlers.keyDown(key, modifiers);
    const bool consumed = key == 0;

    if (receiver == &m_display) {
        const bool alt = modifiers & Qt::AltModifier;
        const bool ctrl = modifiers & Qt::ControlModifier;
        // Backspace loses its editing action but still types its character.
        if (consumed) {
            if (event->key() == Qt::Key_Backspace && !alt && !ctrl)
                m_handlers.typeIntoDisplay(u'\b');
            return true;
        }
        // Ctrl with a letter types a control character; menu shortcuts never get this far.
        if (ctrl && !alt) {
            if (const char16_t ch = controlCharacter(event->key()); ch != 0)
                return m_handlers.typeIntoDisplay(ch);
        }
        // Alt chords are commands, never typed characters.
        if (alt && !event->text().isEmpty())
            return true;
    }
    if (consumed)
        return true;
    // A command that hid the control or took the focus from it keeps the key from it too.
    return (wasVisible && !receiver->isVisibleTo(&m_window)) ||
           m_window.focusWidget() != focusBefore;
}

} // namespace kirt
