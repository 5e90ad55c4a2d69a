// The receive terminal end to end: a pseudo-terminal plays the device behind COM1.
#include "display/traffic.h"
#include "tests/support/columns.h"
#include "tests/support/timing.h"
#include "tests/support/windowfixture.h"
#include "ui/caretblink.h"
#include "ui/receivedisplay.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QtTest>

#include <unistd.h>

using kirt::PtyDevice;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

class TestReceive : public QObject
{
    Q_OBJECT

private slots:
    void bytesArriveInHexAndAsc_data();
    void bytesArriveInHexAndAsc();
    void newLineCharacter();
    void echoGoesBackInDisplayOrder();
    void lineLimitCountsWrappedRows();
    void newLineLimitWaitsForNewText();
    void cutsWaitForTheNextEdit_data();
    void cutsWaitForTheNextEdit();
    void trafficCaption();
    void fullBufferDropsAndShowsThePanel();
    void openFailures_data();
    void openFailures();
    void closeDuringStreamAndReopen();
    void windowClosesWhileStreaming();
    void writesWithThePortClosedAreDiscarded();
    void quietLineLeavesTheWindowStill();
    void steadyStreamKeepsRepainting();
};

void TestReceive::bytesArriveInHexAndAsc_data()
{
    kirt::test::columns<int, QByteArray, QString>({"format", "bytes", "shown"});
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
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(format);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM CLOSE"));
    QVERIFY(f.device().send(bytes));
    QVERIFY2(f.waitForText(shown), qPrintable(display->displayText()));
}

void TestReceive::newLineCharacter()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    f.find<QLineEdit>("NewLineCharEdit")->setText(QStringLiteral("0D"));
    QVERIFY(f.window().newLineEnabled());
    QVERIFY(f.openPort());
    // The very first byte is the new-line character: the display is empty, so no break.
    QVERIFY(f.device().send(QByteArray("\x0d\x41\x0d\x0a", 4)));
    QVERIFY2(f.waitForText(QStringLiteral("0D 41 \n0D 0A ")), qPrintable(display->displayText()));
    QCOMPARE(display->rowCount(), 2u);

    // Edited to a single digit: the handling stops.
    f.find<QLineEdit>("NewLineCharEdit")->setText(QStringLiteral("0"));
    QVERIFY(!f.window().newLineEnabled());
    QVERIFY(f.device().send(QByteArray("\x0d", 1)));
    QVERIFY(f.waitForText(QStringLiteral("0D 41 \n0D 0A 0D ")));
}

void TestReceive::echoGoesBackInDisplayOrder()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    f.choose("EchoOnOffComboBox", 1);
    QVERIFY(f.openPort());
    QByteArray sent;
    for (int i = 0; i < 600; ++i)
        sent.append(static_cast<char>('A' + i % 26));
    QVERIFY(f.device().send(sent));
    QCOMPARE(f.device().receive(int(sent.size()), 10000), sent);
    QVERIFY(f.waitForText(QString::fromLatin1(sent)));
}

void TestReceive::lineLimitCountsWrappedRows()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    f.choose("ScrollBarComboBox", 1);
    f.choose("LineLimitComboBox", 1);
    QCOMPARE(f.window().displayLineLimit(), 50u);
    QVERIFY(QTest::qWaitForWindowExposed(&f.window()));
    const int columns = display->columns();
    QVERIFY(columns > 10);
    QVERIFY(f.openPort());
    // HEX without a new-line character is one long line: only its wrap makes rows.
    const int bytesPerRow = columns / 3 + 1;
    QByteArray data;
    for (int i = 0; i < bytesPerRow * 60; ++i)
        data.append(static_cast<char>(i));
    QVERIFY(f.device().send(data));
    const QString last = kirt::HexByte(static_cast<std::uint8_t>(data.back())) + u' ';
    QVERIFY(PtyDevice::waitUntil(
        [&] {
            return f.device().pendingForProgram() == 0 && !f.window().rxMemory().pending() &&
                   display->displayText().endsWith(last);
        },
        20000));
    QCOMPARE(display->rowCount(), 50u);
    // The newest bytes remain, the oldest went.
    const QString text = display->displayText();
    QVERIFY(!text.startsWith(QStringLiteral("00 01 02 ")));
    QCOMPARE(text.size() % 3, 0);
}

void TestReceive::newLineLimitWaitsForNewText()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    f.find<QLineEdit>("NewLineCharEdit")->setText(QStringLiteral("0D"));
    f.choose("ScrollBarComboBox", 1);
    f.choose("LineLimitComboBox", 2);
    QCOMPARE(f.window().displayLineLimit(), 100u);
    QVERIFY(f.openPort());
    // Each 0D after the first starts a row of its own.
    QVERIFY(f.device().send(QByteArray(80, '\x0d')));
    QVERIFY(PtyDevice::waitUntil([&] { return display->rowCount() == 80; }));

    f.choose("LineLimitComboBox", 1);
    QCOMPARE(f.window().displayLineLimit(), 50u);
    PtyDevice::serveEvents(200);
    QCOMPARE(display->rowCount(), 80u);
    // Nor does a change of width cut anything by itself.
    const int columns = display->columns();
    f.window().resize(f.window().width() + 80, f.window().height());
    PtyDevice::serveEvents(100);
    QVERIFY(display->columns() != columns);
    QCOMPARE(display->rowCount(), 80u);

    // A byte held back while a file goes out keeps hand-overs coming, but changes nothing.
    auto* downloadPanel = f.find<QWidget>("DownloadPanel");
    downloadPanel->show();
    QVERIFY(f.device().send(QByteArray("\x41", 1)));
    QVERIFY(PtyDevice::waitUntil([&] { return f.window().rxMemory().backlog() == 1; }));
    PtyDevice::serveEvents(200);
    QCOMPARE(display->rowCount(), 80u);

    downloadPanel->hide();
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().endsWith("41 "); }));
    QCOMPARE(display->rowCount(), 50u);
}

void TestReceive::cutsWaitForTheNextEdit_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("limit above a batch") << 40;
    QTest::newRow("limit below a batch: the cut reaches collected text") << 3;
}

// Batches whose cut waits for the refresh leave the display exactly as batches cut one by one,
// and cost one edit of the document.
void TestReceive::cutsWaitForTheNextEdit()
{
    QFETCH(int, limit);
    kirt::ReceiveDisplay deferred;
    kirt::ReceiveDisplay direct;
    for (kirt::ReceiveDisplay* d : {&deferred, &direct})
        d->resize(300, 200);
    QCOMPARE(deferred.columns(), direct.columns());
    int edits = 0;
    connect(deferred.document(), &QTextDocument::contentsChange, this, [&] { ++edits; });
    const auto rows = [](kirt::ReceiveDisplay& d) {
        QStringList shown;
        for (QTextBlock b = d.document()->begin(); b.isValid(); b = b.next())
            shown << b.text() + QString::number(b.userState());
        return shown;
    };
    const auto limit32 = static_cast<std::uint32_t>(limit);
    for (int batch = 0; batch < 60; ++batch) {
        // Wrapped words, CR LF split across batches, lone CRs and forced breaks.
        const QString text = batch % 3 == 0   ? QStringLiteral("word%1 ").arg(batch).repeated(9)
                             : batch % 3 == 1 ? QStringLiteral("ab\r")
                                              : QStringLiteral("\ncd\r\r");
        for (kirt::ReceiveDisplay* d : {&deferred, &direct}) {
            d->appendData(text);
            if (batch % 7 == 0)
                d->appendLineBreak();
        }
        deferred.limitRows(limit32);
        direct.trimToRows(limit32);
        QCOMPARE(deferred.rowCount(), direct.rowCount());
        if (batch == 31) { // a refresh in the middle of a line
            QCOMPARE(edits, 0);
            deferred.flushPending();
            QCOMPARE(rows(deferred), rows(direct));
        }
    }
    QCOMPARE(edits, 1);
    deferred.flushPending();
    QCOMPARE(edits, 2);
    QCOMPARE(rows(deferred), rows(direct));
    QCOMPARE(deferred.rowCount(), std::min<std::uint32_t>(limit32, direct.rowCount()));
    QCOMPARE(deferred.displayText(), direct.displayText());
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
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    // While a file goes out nothing is displayed, so the buffer only fills.
    f.find<QWidget>("DownloadPanel")->show();
    QVERIFY(f.openPort());
    auto* panel = f.find<QLabel>("RxMemoryFull");
    QVERIFY(panel->isHidden());
    QVERIFY(f.device().send(QByteArray(kirt::RxRingBuffer::Size + 64, 'x')));
    QVERIFY(PtyDevice::waitUntil([&] { return !panel->isHidden(); }, 20000));
    QVERIFY(f.window().rxMemory().RxFull());
    QCOMPARE(f.window().rxMemory().backlog(), kirt::RxRingBuffer::Size);
    QCOMPARE(f.find<QLabel>("TrafficPanel")->text(), QStringLiteral(" Display Traffic : 100%"));
    QVERIFY(display->isEmpty());
    // The COM button empties the buffer.
    f.click("COM_BitBtn");
    QVERIFY(!f.window().rxMemory().pending());
    QVERIFY(!f.window().rxMemory().RxFull());
}

void TestReceive::openFailures_data()
{
    kirt::test::columns<QString, int, QString, QString>(
        {"device", "dataBitsIndex", "error", "message"});
    kirt::test::row("missing device", "/nonexistent/ttyKIRT", 4, "Error Opening COM1", QString());
    kirt::test::row("4 data bits", "", 0, QString(), "Set ComPort Status ERROR!");
    kirt::test::row("not a terminal", "/dev/null", 4, "Error Opening COM1", QString());
}

void TestReceive::openFailures()
{
    QFETCH(QString, device);
    QFETCH(int, dataBitsIndex);
    QFETCH(QString, error);
    QFETCH(QString, message);
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    if (!device.isEmpty())
        qputenv("KIRT_COM1", device.toLocal8Bit());
    f.choose("DataBitsComboBox", dataBitsIndex);
    display->appendData(QStringLiteral("old text"));
    QVERIFY(!f.openPort());
    QCOMPARE(f.answers.errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(f.answers.messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (!error.isEmpty())
        QVERIFY(!f.answers.details.first().isEmpty()); // the system's reason goes with it
    QVERIFY(display->isEmpty());
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
    // Nothing is left that could be written to.
    const std::uint8_t byte = 0x55;
    QCOMPARE(f.window().WriteComBytes(&byte, 1), 1u);
}

void TestReceive::closeDuringStreamAndReopen()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    QTimer stream;
    int chunks = 0;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        const QByteArray chunk(64, 'S');
        if (::write(f.device().masterFd(), chunk.constData(), size_t(chunk.size())) > 0)
            ++chunks;
    });
    stream.start(1);
    QVERIFY(PtyDevice::waitUntil([&] { return display->rowCount() > 3; }, 5000));
    for (int round = 0; round < 5; ++round) {
        f.click("COM_BitBtn"); // close in the middle of the stream
        QVERIFY(!f.window().portOpen());
        QVERIFY(f.openPort()); // and at once again
        f.device().serveEvents(30);
    }
    stream.stop();
    QVERIFY(chunks > 0);
    QVERIFY(f.answers.errors.isEmpty());
    // Still a working terminal after all that.
    f.click("COM_BitBtn");
    QVERIFY(f.openPort());
    f.device().serveEvents(50);
    f.click("CLEAR_BitBtn");
    QVERIFY(f.device().send(QByteArray("\x7e", 1)));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().endsWith("7E "); }));
}

void TestReceive::windowClosesWhileStreaming()
{
    WindowFixture f(Device::Pty);
    f.window().show();
    QVERIFY(f.openPort());
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        const QByteArray chunk(128, 'W');
        [[maybe_unused]] const auto written =
            ::write(f.device().masterFd(), chunk.constData(), size_t(chunk.size()));
    });
    stream.start(1);
    PtyDevice::serveEvents(200);
    QVERIFY(f.window().close());
    f.destroyWindow(); // must end the receive thread without hanging
    stream.stop();
    QVERIFY(f.settings.exists());
}

void TestReceive::writesWithThePortClosedAreDiscarded()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    QCOMPARE(f.window().WriteComBytes(bytes, 5), 5u);
    QVERIFY(f.openPort());
    f.click("COM_BitBtn");
    QCOMPARE(f.window().WriteComBytes(bytes, 5), 5u);
    QCOMPARE(f.device().receive(1, 200), QByteArray());
}

void TestReceive::quietLineLeavesTheWindowStill()
{
    // Counts what reaches the window and its parts (the test's own wait has a timer too).
    struct Ticks : QObject
    {
        QObject* window = nullptr;
        int timers = 0;
        int paints = 0;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            QObject* o = watched;
            while (o && o != window)
                o = o->parent();
            if (o) {
                timers += event->type() == QEvent::Timer;
                paints += event->type() == QEvent::Paint;
            }
            return false;
        }
    };
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.display()->setFocus();
    auto* blink = f.find<kirt::CaretBlink>(QStringLiteral("CaretBlink"));
    blink->setRestAfter(300);
    blink->wake();
    QVERIFY(PtyDevice::waitUntil([blink] { return blink->resting(); }, 3000));
    PtyDevice::serveEvents(100); // the caret painted on, once, if it rested while off

    // Nothing to show and nobody at the keys: no timer fires and nothing is painted.
    Ticks ticks;
    ticks.window = &f.window();
    qApp->installEventFilter(&ticks);
    PtyDevice::serveEvents(1500);
    QCOMPARE(ticks.timers, 0);
    QCOMPARE(ticks.paints, 0);

    // A click wakes the caret, which blinks again until it rests anew.
    QTest::mouseClick(f.display()->viewport(), Qt::LeftButton);
    QVERIFY(!blink->resting());
    ticks.paints = 0;
    PtyDevice::serveEvents(150);
    QVERIFY(PtyDevice::waitUntil([&] { return ticks.paints >= 2; }, 2000));
    QVERIFY(PtyDevice::waitUntil([blink] { return blink->resting(); }, 3000));
}

void TestReceive::steadyStreamKeepsRepainting()
{
    // The repaint waits for a gap between batches, but a stream without gaps must not
    // starve it: at most two refresh periods (60 ms) go by without one.
    struct Paints : QObject
    {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            count += event->type() == QEvent::Paint;
            return false;
        }
    };
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    QVERIFY(f.openPort());
    Paints paints;
    f.display()->viewport()->installEventFilter(&paints);
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        [[maybe_unused]] const auto written = ::write(f.device().masterFd(), "0123", 4);
    });
    stream.start(2);
    PtyDevice::serveEvents(600);
    stream.stop();
    KIRT_VERIFY_TIMING(paints.count >= 5, qPrintable(QString::number(paints.count)));
}

QTEST_MAIN(TestReceive)
#include "tst_receive.moc"
