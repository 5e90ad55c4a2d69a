// The terminal view through the window, against a real shell that kirt-vdev runs on the device
// side of its pseudo-terminal, as a board's Linux console.
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"
#include "ui/terminalscreen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::WindowFixture;

namespace {

// The shell of the board: bash without the user's start-up files, so prompt and history are
// the test's own.
constexpr const char* BoardShell = "PS1='board$ ' HISTFILE= exec bash --norc --noprofile -i";

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aShellAnswersInTheTerminal();
    void fullScreenProgramsAndInterrupts();
    void windowKeysGoToTheBoard();

private:
    bool startBoard();
    kirt::TerminalScreen* screen() { return m_f->find<kirt::TerminalScreen>("TerminalScreen"); }
    QString screenText() { return screen()->emulator().allText(); }
    [[nodiscard]] bool waitForScreen(const QString& text, int count = 1, int timeoutMs = 10000);
    void typeLine(const QString& line);

    std::unique_ptr<WindowFixture> m_f;
    QProcess m_board;
};

void TestTerminal::init()
{
    cleanup(); // what a failed start left
    m_f = std::make_unique<WindowFixture>();
    QVERIFY(startBoard());
    m_f->choose(QStringLiteral("DisplayFormatComboBox"), 1); // ASC: the display reads along
    QVERIFY(m_f->showActive());
    QVERIFY(m_f->openPort());
    m_f->click(QStringLiteral("TerminalView_BitBtn"));
    QCOMPARE(m_f->focused(), static_cast<QWidget*>(screen()));
    // A prompt printed before the port opened is not seen, as on a real line.
    m_f->press(Qt::Key_Return);
    QVERIFY(waitForScreen(QStringLiteral("board$")));
}

void TestTerminal::cleanup()
{
    m_f.reset();
    if (m_board.state() != QProcess::NotRunning) {
        m_board.terminate();
        m_board.waitForFinished(5000);
    }
}

bool TestTerminal::startBoard()
{
    m_board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_board.start(QStringLiteral(KIRT_VDEV_PATH),
                  {QStringLiteral("--shell"), QString::fromLatin1(BoardShell)});
    // Its one line names the port once the link is made.
    return m_board.waitForStarted(5000) && m_board.waitForReadyRead(5000);
}

bool TestTerminal::waitForScreen(const QString& text, int count, int timeoutMs)
{
    const bool found =
        PtyDevice::waitUntil([&] { return screenText().count(text) >= count; }, timeoutMs);
    if (!found)
        qWarning().noquote() << "screen:" << screenText();
    return found;
}

void TestTerminal::typeLine(const QString& line)
{
    m_f->type(line);
    m_f->press(Qt::Key_Return);
}

void TestTerminal::aShellAnswersInTheTerminal()
{
    typeLine(QStringLiteral("echo $((6*7))"));
    QVERIFY(waitForScreen(QStringLiteral("\n42\n")));
    // Up recalls the last line from the board's own history.
    m_f->press(Qt::Key_Up);
    m_f->press(Qt::Key_Return);
    QVERIFY(waitForScreen(QStringLiteral("\n42\n"), 2));

    // Colours arrive as colours, not as escape text: by the copied text, the cells and pixels.
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("bluefolder")));
    typeLine(QStringLiteral("ls --color=always ") + folder.path());
    QVERIFY(waitForScreen(QStringLiteral("\nbluefolder\n")));
    m_f->press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    m_f->press(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    QVERIFY(copied.contains(QStringLiteral("\nbluefolder\n")));
    QVERIFY(!copied.contains(QChar(0x1b)) && !copied.contains(QStringLiteral("[0")));
    const kirt::TerminalEmulator& vt = screen()->emulator();
    const int row = static_cast<int>(vt.cursorRow()) - 1;
    const kirt::TerminalCell first = vt.cell(row, 0);
    QCOMPARE(first.ch, U'b');
    QVERIFY(first.fg != kirt::TerminalCell::DefaultColour);
    screen()->flushPaint();
    const QImage shot = screen()->grab().toImage();
    bool blue = false;
    for (int y = 0; y < shot.height() && !blue; ++y)
        for (int x = 0; x < shot.width() && !blue; ++x) {
            const QColor c = shot.pixelColor(x, y);
            blue = c.blue() > 150 && c.red() < 100 && c.green() < 160;
        }
    QVERIFY(blue);
}

void TestTerminal::fullScreenProgramsAndInterrupts()
{
    typeLine(QStringLiteral("echo before-vi"));
    QVERIFY(waitForScreen(QStringLiteral("\nbefore-vi\n")));
    typeLine(QStringLiteral("vi"));
    QVERIFY(PtyDevice::waitUntil([&] { return screen()->emulator().altScreen(); }, 10000));
    QVERIFY(waitForScreen(QStringLiteral("\n~\n~\n")));
    m_f->type(QStringLiteral(":q"));
    m_f->press(Qt::Key_Return);
    QVERIFY(PtyDevice::waitUntil([&] { return !screen()->emulator().altScreen(); }, 10000));
    QVERIFY(waitForScreen(QStringLiteral("\nbefore-vi\n")));
    QVERIFY(!screenText().contains(QStringLiteral("\n~\n")));

    typeLine(QStringLiteral("sleep 100; echo slept"));
    QTest::qWait(300);
    m_f->press(Qt::Key_C, Qt::ControlModifier);
    typeLine(QStringLiteral("echo woke-$((1+1))"));
    QVERIFY(waitForScreen(QStringLiteral("\nwoke-2\n"), 1, 5000));
    QVERIFY(!screenText().contains(QStringLiteral("\nslept\n")));
}

void TestTerminal::windowKeysGoToTheBoard()
{
    // F2 and Alt+1 are the board's here: the port stays open and no transmit line goes out.
    m_f->press(Qt::Key_F2);
    m_f->press(Qt::Key_1, Qt::AltModifier);
    m_f->press(Qt::Key_Tab);
    QVERIFY(m_f->window().portOpen());
    QCOMPARE(m_f->focused(), static_cast<QWidget*>(screen()));
    typeLine(QStringLiteral("echo keys-ok"));
    QVERIFY(waitForScreen(QStringLiteral("\nkeys-ok\n")));
    // The display got every byte too, while the terminal was in front.
    QVERIFY(m_f->display()->displayText().contains(QStringLiteral("keys-ok")));

    // Ctrl+Shift+F2 closes and opens the port, the terminal in front and its lines kept;
    // Ctrl+Shift+F3 clears it.
    m_f->press(Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!m_f->window().portOpen());
    QVERIFY(screen()->isVisible());
    m_f->press(Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(m_f->window().portOpen());
    QVERIFY(screen()->isVisible());
    QVERIFY(screenText().contains(QStringLiteral("keys-ok")));
    m_f->press(Qt::Key_F3, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!screenText().contains(QStringLiteral("keys-ok")));
    m_f->press(Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!m_f->window().portOpen());
    // The Terminal page's settings reach the terminal as they are chosen.
    m_f->choose(QStringLiteral("TerminalEnterComboBox"), 2);
    m_f->choose(QStringLiteral("TerminalScrollbackComboBox"), 1);
    QCOMPARE(screen()->options().enter, kirt::TerminalOptions::Enter::CrLf);
    QCOMPARE(screen()->emulator().scrollbackLimit(), 50000);
    // F9 brings it back from another view.
    m_f->click(QStringLiteral("ReceiveView_BitBtn"));
    m_f->press(Qt::Key_F9);
    QVERIFY(screen()->isVisible());
    QCOMPARE(m_f->focused(), static_cast<QWidget*>(screen()));
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
