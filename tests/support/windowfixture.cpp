#include "tests/support/windowfixture.h"

#include "ui/receivedisplay.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QtTest>

namespace kirt::test {

WindowFixture::WindowFixture(Device device)
{
    if (device == Device::Pty)
        m_device.emplace(1);
    else if (device == Device::PtyByLink)
        m_device.emplace(1, PtyDevice::Mapping::Link);
}

WindowFixture::~WindowFixture() = default;

PtyDevice& WindowFixture::device()
{
    if (!m_device)
        qFatal("the fixture was made without a device");
    return *m_device;
}

TFmain& WindowFixture::window()
{
    if (!m_window)
        m_window = std::make_unique<TFmain>();
    return *m_window;
}

void WindowFixture::destroyWindow()
{
    m_window.reset();
}

void WindowFixture::showWithDisplayFormat(int format)
{
    choose(QStringLiteral("DisplayFormatComboBox"), format);
    window().show();
}

bool WindowFixture::showActive()
{
    window().show();
    window().activateWindow();
    return QTest::qWaitForWindowActive(&window());
}

kirt::ReceiveDisplay* WindowFixture::display()
{
    return find<kirt::ReceiveDisplay>(QStringLiteral("mMessage"));
}

void WindowFixture::choose(const QString& box, int index)
{
    test::choose(&window(), box, index);
}

void WindowFixture::click(const QString& button)
{
    find<QAbstractButton>(button)->click();
}

void WindowFixture::triggerAction(const QString& name)
{
    auto* action = window().findChild<QAction*>(name);
    QVERIFY2(action, qPrintable(QStringLiteral("no action %1").arg(name)));
    QVERIFY2(action->isEnabled(), qPrintable(QStringLiteral("action %1 disabled").arg(name)));
    action->trigger();
    QCoreApplication::processEvents();
}

bool WindowFixture::openPort()
{
    click(QStringLiteral("COM_BitBtn"));
    // A network port opens on a thread of its own; a local one at once.
    PtyDevice::waitUntil([this] { return !window().port().opening(); }, 10000);
    return window().portOpen();
}

QWidget* WindowFixture::focused()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        focus = window().focusWidget();
    return focus ? focus : &window();
}

void WindowFixture::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(focused(), key, modifiers);
}

void WindowFixture::type(const QString& text)
{
    QTest::keyClicks(focused(), text);
}

bool WindowFixture::waitForText(const QString& text, int timeoutMs)
{
    kirt::ReceiveDisplay* shown = display();
    return PtyDevice::waitUntil([&] { return shown->displayText() == text; }, timeoutMs);
}

QString WindowFixture::fileWith(const QString& name, const QByteArray& bytes) const
{
    const QString path = file(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace kirt::test
