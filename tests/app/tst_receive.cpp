// The receive terminal end to end: a pseudo-terminal plays the device behind COM1.
#include "app/Umain.h"
#include "display/traffic.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

using kirt::PtyDevice;
using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

namespace {

// A window with COM1 mapped to a fresh pseudo-terminal, opened, display in the given format.
struct Terminal
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    TFmain window;
    kirt::ReceiveDisplay* display = nullptr;

    explicit Terminal(int format)
    {
        display = find<kirt::ReceiveDisplay>(&window, "mMessage");
        choose(&window, "DisplayFormatComboBox", format);
        window.show();
    }
    bool open()
    {
        window.COM_BitBtnClick();
        return window.portOpen();
    }
    bool waitText(const QString& text, int ms = 5000)
    {
        return PtyDevice::waitUntil([&] { return display->displayText() == text; }, ms);
    }
};

} // namespace

class TestReceive : public QObject
{
    Q_OBJECT

private slots:
    void bytesArriveInHexAndAsc_data();
    void bytesArriveInHexAndAsc();
    void newLineCharacter();
    void echoGoesBackInDisplayOrder();
    void lineLimitCountsWrappedRows();
    void trafficCaption();
    void fullBufferDropsAndShowsThePanel();
    void openFailures_data();
    void openFailures();
    void closeDuringStreamAndReopen();
    void windowClosesWhileStreaming();
    void writesWithThePortClosedAreDiscarded();
};

void TestReceive::bytesArriveInHexAndAsc_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("hex") << 0 << QByteArray("\x41\x00\xff\x0d", 4) << "41 00 FF 0D ";
    QTest::newRow("asc, a zero byte adds nothing") << 1 << QByteArray("AB\0C", 4) << "ABC";
    QTest::newRow("asc, CR LF ends the line once") << 1 << QByteArray("A\r\nB") << "A\nB";
    QTest::newRow("asc, latin-1 kept") << 1 << QByteArray("\xe9\xb5") << "\u00e9\u00b5";
}

void TestReceive::bytesArriveInHexAndAsc()
{
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    Terminal t(format);
    QVERIFY(t.open());
    QCOMPARE(find<QPushButton>(&t.window, "COM_BitBtn")->text(), QStringLiteral("COM CLOSE"));
    QVERIFY(t.device.send(bytes));
    QVERIFY2(t.waitText(shown), qPrintable(t.display->displayText()));
}

void TestReceive::newLineCharacter()
{
    Terminal t(0);
    find<QLineEdit>(&t.window, "NewLineCharEdit")->setText(QStringLiteral("0D"));
    QVERIFY(t.window.newLineEnabled());
    QVERIFY(t.open());
    // The very first byte is the new-line character: the display is empty, so no break.
    QVERIFY(t.device.send(QByteArray("\x0d\x41\x0d\x0a", 4)));
    QVERIFY2(t.waitText(QStringLiteral("0D 41 \n0D 0A ")), qPrintable(t.display->displayText()));
    QCOMPARE(t.display->rowCount(), 2u);

    // Edited to a single digit: the handling stops.
    find<QLineEdit>(&t.window, "NewLineCharEdit")->setText(QStringLiteral("0"));
    QVERIFY(!t.window.newLineEnabled());
    QVERIFY(t.device.send(QByteArray("\x0d", 1)));
    QVERIFY(t.waitText(QStringLiteral("0D 41 \n0D 0A 0D ")));
}

void TestReceive::echoGoesBackInDisplayOrder()
{
    Terminal t(1);
    choose(&t.window, "EchoOnOffComboBox", 1);
    QVERIFY(t.open());
    QByteArray sent;
    for (int i = 0; i < 600; ++i)
        sent.append(static_cast<char>('A' + i % 26));
    QVERIFY(t.device.send(sent));
    QCOMPARE(t.device.receive(int(sent.size()), 10000), sent);
    QVERIFY(t.waitText(QString::fromLatin1(sent)));
}

void TestReceive::lineLimitCountsWrappedRows()
{
    Terminal t(0);
    choose(&t.window, "ScrollBarComboBox", 1);
    choose(&t.window, "LineLimitComboBox", 1);
    QCOMPARE(t.window.displayLineLimit(), 50u);
    QVERIFY(QTest::qWaitForWindowExposed(&t.window));
    const int columns = t.display->columns();
    QVERIFY(columns > 10);
    QVERIFY(t.open());
    // HEX without a new-line character is one long line: only its wrap makes rows.
    const int bytesPerRow = columns / 3 + 1;
    QByteArray data;
    for (int i = 0; i < bytesPerRow * 60; ++i)
        data.append(static_cast<char>(i));
    QVERIFY(t.device.send(data));
    const QString last = kirt::HexByte(static_cast<std::uint8_t>(data.back())) + u' ';
    QVERIFY(PtyDevice::waitUntil(
        [&] {
            return t.device.pendingForProgram() == 0 && !t.window.rxMemory().pending() &&
                   t.display->displayText().endsWith(last);
        },
        20000));
    QCOMPARE(t.display->rowCount(), 50u);
    // The newest bytes remain, the oldest went.
    const QString text = t.display->displayText();
    QVERIFY(!text.startsWith(QStringLiteral("00 01 02 ")));
    QCOMPARE(text.size() % 3, 0);
}

void TestReceive::trafficCaption()
{
    QCOMPARE(kirt::TrafficCaption(9, 9), QStringLiteral(" Display Traffic : 0%"));
    QCOMPARE(kirt::TrafficCaption(20, 10), QStringLiteral(" Display Traffic : 50%"));
    QCOMPARE(kirt::TrafficCaption(30, 10), QStringLiteral(" Display Traffic : 33%"));
    QCOMPARE(kirt::TrafficCaption(81920, 40960), QStringLiteral(" Display Traffic : 50%"));
}

void TestReceive::fullBufferDropsAndShowsThePanel()
{
    Terminal t(0);
    // While a file goes out nothing is displayed, so the buffer only fills.
    find<QWidget>(&t.window, "DownloadPanel")->show();
    QVERIFY(t.open());
    auto* panel = find<QLabel>(&t.window, "RxMemoryFull");
    QVERIFY(panel->isHidden());
    QVERIFY(t.device.send(QByteArray(kirt::RxRingBuffer::Size + 64, 'x')));
    QVERIFY(PtyDevice::waitUntil([&] { return !panel->isHidden(); }, 20000));
    QVERIFY(t.window.rxMemory().RxFull());
    QCOMPARE(t.window.rxMemory().backlog(), kirt::RxRingBuffer::Size);
    QCOMPARE(find<QLabel>(&t.window, "TrafficPanel")->text(),
             QStringLiteral(" Display Traffic : 100%"));
    QVERIFY(t.display->isEmpty());
    // The COM button empties the buffer.
    t.window.COM_BitBtnClick();
    QVERIFY(!t.window.rxMemory().pending());
    QVERIFY(!t.window.rxMemory().RxFull());
}

void TestReceive::openFailures_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("dataBitsIndex");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing device")
        << "/nonexistent/ttyKIRT" << 4 << "Error Opening COM1" << QString();
    QTest::newRow("4 data bits") << "" << 0 << QString() << "Set ComPort Status ERROR!";
    QTest::newRow("not a terminal") << "/dev/null" << 4 << QString() << "Get ComPort Status ERROR!";
}

void TestReceive::openFailures()
{
    QFETCH(QString, device);
    QFETCH(int, dataBitsIndex);
    QFETCH(QString, error);
    QFETCH(QString, message);
    Terminal t(1);
    if (!device.isEmpty())
        qputenv("KIRT_COM1", device.toLocal8Bit());
    choose(&t.window, "DataBitsComboBox", dataBitsIndex);
    t.display->appendData(QStringLiteral("old text"));
    QVERIFY(!t.open());
    QCOMPARE(t.answers.errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(t.answers.messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (!error.isEmpty())
        QVERIFY(!t.answers.details.first().isEmpty()); // the system's reason goes with it
    QVERIFY(t.display->isEmpty());
    QCOMPARE(find<QPushButton>(&t.window, "COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
    // Nothing is left that could be written to.
    const std::uint8_t byte = 0x55;
    QCOMPARE(t.window.WriteComBytes(&byte, 1), 1u);
}

void TestReceive::closeDuringStreamAndReopen()
{
    Terminal t(0);
    QVERIFY(t.open());
    QTimer stream;
    int chunks = 0;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        const QByteArray chunk(64, 'S');
        if (::write(t.device.masterFd(), chunk.constData(), size_t(chunk.size())) > 0)
            ++chunks;
    });
    stream.start(1);
    QVERIFY(PtyDevice::waitUntil([&] { return t.display->rowCount() > 3; }, 5000));
    for (int round = 0; round < 5; ++round) {
        t.window.COM_BitBtnClick(); // close in the middle of the stream
        QVERIFY(!t.window.portOpen());
        QVERIFY(t.open()); // and at once again
        t.device.serveEvents(30);
    }
    stream.stop();
    QVERIFY(chunks > 0);
    QVERIFY(t.answers.errors.isEmpty());
    // Still a working terminal after all that.
    t.window.COM_BitBtnClick();
    QVERIFY(t.open());
    t.device.serveEvents(50);
    t.window.CLEAR_BitBtnClick();
    QVERIFY(t.device.send(QByteArray("\x7e", 1)));
    QVERIFY(PtyDevice::waitUntil([&] { return t.display->displayText().endsWith("7E "); }));
}

void TestReceive::windowClosesWhileStreaming()
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device(1);
    auto* window = new TFmain;
    window->show();
    window->COM_BitBtnClick();
    QVERIFY(window->portOpen());
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        const QByteArray chunk(128, 'W');
        [[maybe_unused]] const auto written =
            ::write(device.masterFd(), chunk.constData(), size_t(chunk.size()));
    });
    stream.start(1);
    PtyDevice::serveEvents(200);
    QVERIFY(window->close());
    delete window; // must end the receive thread without hanging
    stream.stop();
    QVERIFY(settings.exists());
}

void TestReceive::writesWithThePortClosedAreDiscarded()
{
    Terminal t(0);
    const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    QCOMPARE(t.window.WriteComBytes(bytes, 5), 5u);
    QVERIFY(t.open());
    t.window.COM_BitBtnClick();
    QCOMPARE(t.window.WriteComBytes(bytes, 5), 5u);
    QCOMPARE(t.device.receive(1, 200), QByteArray());
}

QTEST_MAIN(TestReceive)
#include "tst_receive.moc"
