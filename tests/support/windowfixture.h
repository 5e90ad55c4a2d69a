#pragma once

#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class QWidget;

namespace kirt::test {

// What one GUI test stands on: a private settings home, answers for every dialog, a folder for
// files, optionally a pseudo-terminal playing the device behind COM1, and the main window.
// The window is made when first asked for, so a test can write settings before it starts, and
// can be ended and made again to run several windows one after the other.
class WindowFixture
{
public:
    // Pty maps COM1 through KIRT_COM1, PtyByLink through a link in the port-map folder.
    enum class Device { None, Pty, PtyByLink };

    explicit WindowFixture(Device device = Device::None);
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    TempSettings settings;
    DialogAnswerer answers;

    PtyDevice& device();
    TFmain& window();
    // Ends the window (its destructor runs now); the next window() makes a new one.
    void destroyWindow();
    // The display format picked (0 HEX, 1 ASC), then the window shown.
    void showWithDisplayFormat(int format);
    // Shown and active: focus changes and key handling need the active window.
    [[nodiscard]] bool showActive();

    template <typename T> T* find(const QString& name) { return test::find<T>(&window(), name); }
    kirt::ReceiveDisplay* display();
    void choose(const QString& box, int index);
    void click(const QString& button);
    // The menu item by its name, as the user picks it: it must exist and be enabled.
    void triggerAction(const QString& name);
    // The COM button, for a port that is closed; true once the port is open.
    [[nodiscard]] bool openPort();

    // Keys go where a user's keys go: to the focus widget, even before the window is active.
    QWidget* focused();
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void type(const QString& text);

    // Serves events until the display shows exactly this text.
    [[nodiscard]] bool waitForText(const QString& text, int timeoutMs = 5000);

    QString file(const QString& name) const { return m_files.filePath(name); }
    // Writes the bytes to a file of that name in the test's folder and returns its path.
    QString fileWith(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir m_files;
    std::optional<PtyDevice> m_device;
    std::unique_ptr<TFmain> m_window; // last, so it goes before the device and the settings
};

} // namespace kirt::test
