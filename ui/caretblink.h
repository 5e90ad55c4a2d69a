#pragma once

#include <QObject>
#include <QTimer>

namespace kirt {

// The caret blinks while someone is working the window and rests (shown steadily) once no key
// or mouse button has been pressed for a while, as GTK desktops do after 10 s. A blinking
// caret repaints its line twice a second, which on a quiet line would be all the program does.
class CaretBlink : public QObject
{
    Q_OBJECT

public:
    static constexpr int RestAfterMs = 10000;

    explicit CaretBlink(QObject* parent = nullptr);
    ~CaretBlink() override;
    CaretBlink(const CaretBlink&) = delete;
    CaretBlink& operator=(const CaretBlink&) = delete;

    void setRestAfter(int ms) { m_rest.setInterval(ms); }
    bool resting() const { return m_resting; }
    // Input seen: blink again and start the wait for rest anew.
    void wake();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rest();

    QTimer m_rest;
    int m_flashTime = 0; // the desktop's own, put back on every wake
    bool m_resting = false;
};

} // namespace kirt
