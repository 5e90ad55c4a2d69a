#include "ui/caretblink.h"

#include <QApplication>
#include <QEvent>
#include <QStyleHints>

namespace kirt {

CaretBlink::CaretBlink(QObject* parent)
    : QObject(parent), m_flashTime(QGuiApplication::styleHints()->cursorFlashTime())
{
    setObjectName(QStringLiteral("CaretBlink"));
    m_rest.setSingleShot(true);
    m_rest.setInterval(RestAfterMs);
    connect(&m_rest, &QTimer::timeout, this, &CaretBlink::rest);
    // A desktop that does not blink has nothing to rest.
    if (m_flashTime <= 0)
        return;
    qApp->installEventFilter(this);
    m_rest.start();
}

CaretBlink::~CaretBlink()
{
    if (m_resting)
        QApplication::setCursorFlashTime(m_flashTime);
}

void CaretBlink::wake()
{
    if (m_flashTime <= 0)
        return;
    if (m_resting) {
        m_resting = false;
        QApplication::setCursorFlashTime(m_flashTime);
    }
    m_rest.start();
}

void CaretBlink::rest()
{
    m_resting = true;
    // A flash time of 0 shows the caret steadily and stops every caret's blink timer.
    QApplication::setCursorFlashTime(0);
}

bool CaretBlink::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
        wake();
        break;
    default:
        break;
    }
    return false;
}

} // namespace kirt
