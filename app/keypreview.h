#pragma once

#include <QList>
#include <QObject>

#include <functional>

class QAction;
class QKeyEvent;
class QWidget;

namespace kirt {

// Key preview: an application-wide filter, so the window sees every key before the focused
// control does. A key is offered up the parent chain when a control ignores it, so it is acted
// on only where it is first delivered: the window's focus widget (or the window itself).
class KeyPreview : public QObject
{
public:
    struct Handlers
    {
        // The window's key handler; sets the key to 0 to consume it.
        std::function<void(int& key, Qt::KeyboardModifiers modifiers)> keyDown;
        // Types one character into the display; true when the key is used up.
        std::function<bool(char16_t key)> typeIntoDisplay;
        // A control that takes every key itself, the window's own included (a terminal).
        std::function<bool(const QWidget* control)> takesEveryKey;
    };

    KeyPreview(QWidget& window, QWidget& display, QList<QAction*> menu, Handlers handlers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool menuTakes(const QKeyEvent* event) const;
    bool preview(QWidget* receiver, QKeyEvent* event);

    QWidget& m_window;
    QWidget& m_display;
    QList<QAction*> m_menu;
    Handlers m_handlers;
};

// A typed character (not a command key chord) that a key-press rule may replace or discard.
bool typedCharacter(const QKeyEvent* event, char16_t& key);

// Holds the controls it is installed on to a typed-key rule: a key the rule turns into 0 never
// reaches them. Keys that only move or command (arrows, function keys) pass.
class TypedKeyFilter : public QObject
{
public:
    explicit TypedKeyFilter(std::function<char16_t(char16_t)> rule, QObject* parent = nullptr)
        : QObject(parent), m_rule(std::move(rule))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<char16_t(char16_t)> m_rule;
};

} // namespace kirt
