#include "tests/support/columns.h"
#include "vdev/atresponder.h"
#include "vdev/modbus.h"

#include <QtTest>

using namespace kirt::vdev;
using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* digits)
{
    return QByteArray::fromHex(digits);
}

// A request for `count` registers from `start`, built through the CRC step under test.
QByteArray readRequest(std::uint8_t slave, std::uint16_t start, std::uint16_t count)
{
    QByteArray frame;
    frame.append(static_cast<char>(slave));
    frame.append('\x03');
    frame.append(static_cast<char>(start >> 8));
    frame.append(static_cast<char>(start & 0xFF));
    frame.append(static_cast<char>(count >> 8));
    frame.append(static_cast<char>(count & 0xFF));
    return withModbusCrc(frame);
}

} // namespace

class TestProtocols : public QObject
{
    Q_OBJECT

private slots:
    void atAnswers_data();
    void atAnswers();
    void atLineSplitAcrossChunks();
    void atResetForgetsHalfLine();

    void publishedRequestsParse_data();
    void publishedRequestsParse();
    void readResponseCarriesRegisterValues();
    void slaveAnswers_data();
    void slaveAnswers();

    void framerEndsKnownRequestAtOnce();
    void framerEndsUnknownFrameOnSilence();
    void framerSilenceSeparatesFrames();
    void framerDropsOverlongNoise();
    void slaveAnswersRequestSentByteByByte();
};

void TestProtocols::atAnswers_data()
{
    kirt::test::columns<QByteArray, QByteArray>({"input", "answers"});

    kirt::test::row("AT", QByteArray("AT\r"), QByteArray("OK\r\n"));
    kirt::test::row("lower case", QByteArray("at\r"), QByteArray("OK\r\n"));
    kirt::test::row("mixed case", QByteArray("aT\r"), QByteArray("OK\r\n"));
    kirt::test::row("CR LF from a terminal", QByteArray("AT\r\nAT\r\n"),
                    QByteArray("OK\r\nOK\r\n"));
    kirt::test::row("blanks ignored", QByteArray(" A T \r"), QByteArray("OK\r\n"));
    kirt::test::row("backspace corrects", QByteArray("ATXY\b\b\r"), QByteArray("OK\r\n"));
    kirt::test::row("backspace past the start", QByteArray("A\b\bAT\r"), QByteArray("OK\r\n"));
    kirt::test::row("delete corrects", QByteArray("ATZ\x7f\r"), QByteArray("OK\r\n"));
    kirt::test::row("other command", QByteArray("ATZ\r"), QByteArray("ERROR\r\n"));
    kirt::test::row("not a command", QByteArray("HELLO\r"), QByteArray());
    kirt::test::row("empty line", QByteArray("\r\r"), QByteArray());
    kirt::test::row("single A", QByteArray("A\r"), QByteArray());
    kirt::test::row("LF alone ends nothing", QByteArray("AT\n"), QByteArray());
    kirt::test::row("bytes after the last CR wait", QByteArray("AT\rAT"), QByteArray("OK\r\n"));
    kirt::test::row("overlong line", QByteArray("AT") + QByteArray(300, 'X') + "\r",
                    QByteArray("ERROR\r\n"));
    kirt::test::row("overlong then backspaced still overflowed",
                    QByteArray("AT") + QByteArray(AtResponder::MaxLine, 'X') +
                        QByteArray(AtResponder::MaxLine, '\b') + "AT\r",
                    QByteArray("ERROR\r\n"));
    kirt::test::row("next line after overflow", QByteArray("AT") + QByteArray(300, 'X') + "\rAT\r",
                    QByteArray("ERROR\r\nOK\r\n"));
}

void TestProtocols::atAnswers()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answers);
    AtResponder responder;
    QCOMPARE(responder.receive(input), answers);
}

void TestProtocols::atLineSplitAcrossChunks()
{
    AtResponder responder;
    QCOMPARE(responder.receive("A"), QByteArray());
    QCOMPARE(responder.receive("T"), QByteArray());
    QCOMPARE(responder.receive("\r"), QByteArray("OK\r\n"));
}

void TestProtocols::atResetForgetsHalfLine()
{
    AtResponder responder;
    responder.receive("ATZ");
    responder.reset();
    QCOMPARE(responder.receive("AT\r"), QByteArray("OK\r\n"));
}

void TestProtocols::publishedRequestsParse_data()
{
    kirt::test::columns<QByteArray, int, int, int>({"frame", "slave", "start", "count"});

    // Request examples as published with their CRCs.
    QTest::newRow("11 03 00 6B 00 03") << hex("1103006B00037687") << 0x11 << 0x6B << 3;
    QTest::newRow("01 03 00 00 00 02") << hex("010300000002C40B") << 1 << 0 << 2;
    QTest::newRow("01 03 00 00 00 0A") << hex("01030000000AC5CD") << 1 << 0 << 10;
}

void TestProtocols::publishedRequestsParse()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, slave);
    QFETCH(int, start);
    QFETCH(int, count);

    QVERIFY(modbusCrcValid(frame));
    QCOMPARE(withModbusCrc(frame.first(6)), frame);
    const std::optional<ReadHoldingRequest> request = parseReadHoldingRequest(frame);
    QVERIFY(request);
    QCOMPARE(request->slave, slave);
    QCOMPARE(request->start, start);
    QCOMPARE(request->count, count);

    QByteArray corrupt = frame;
    corrupt[3] = static_cast<char>(corrupt[3] ^ 0x01);
    QVERIFY(!modbusCrcValid(corrupt));
    QVERIFY(!parseReadHoldingRequest(corrupt));
    QVERIFY(!parseReadHoldingRequest(frame.first(7)));
}

void TestProtocols::readResponseCarriesRegisterValues()
{
    const QByteArray response = readHoldingResponse(0x11, 0x6B, 3);
    QCOMPARE(response.size(), 3 + 6 + 2);
    QCOMPARE(response.first(9), hex("110306106B106C106D"));
    QVERIFY(modbusCrcValid(response));
    QCOMPARE(holdingRegister(0), 0x1000);
    QCOMPARE(holdingRegister(0xFF), 0x10FF);
}

void TestProtocols::slaveAnswers_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer"); // without its CRC; empty for silence

    kirt::test::row("read two", readRequest(1, 0, 2), hex("01030410001001"));
    kirt::test::row("last register", readRequest(1, 0xFF, 1), hex("01030210FF"));
    kirt::test::row("most registers", readRequest(1, 0, MaxReadCount),
                    readHoldingResponse(1, 0, MaxReadCount).chopped(2));
    kirt::test::row("count zero", readRequest(1, 0, 0), hex("018303"));
    kirt::test::row("count too large", readRequest(1, 0, MaxReadCount + 1), hex("018303"));
    kirt::test::row("past the map", readRequest(1, 0xFF, 2), hex("018302"));
    kirt::test::row("far past the map", readRequest(1, 0xFFFF, 1), hex("018302"));
    kirt::test::row("other function", withModbusCrc(hex("010400000001")), hex("018401"));
    kirt::test::row("write register", withModbusCrc(hex("010600010003")), hex("018601"));
    kirt::test::row("other slave", readRequest(2, 0, 1), QByteArray());
    kirt::test::row("broadcast", readRequest(0, 0, 1), QByteArray());
    kirt::test::row("bad CRC", hex("010300000002C40C"), QByteArray());
    kirt::test::row("an exception frame", withModbusCrc(hex("018302")), QByteArray());
    kirt::test::row("too short", hex("0103"), QByteArray());
}

void TestProtocols::slaveAnswers()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);
    const QByteArray got = answerModbusFrame(frame, 1);
    if (answer.isEmpty()) {
        QVERIFY(got.isEmpty());
        return;
    }
    QVERIFY(modbusCrcValid(got));
    QCOMPARE(got.chopped(2), answer);
}

void TestProtocols::framerEndsKnownRequestAtOnce()
{
    RtuFramer framer(20ms);
    const QByteArray request = hex("010300000002C40B");
    const QList<QByteArray> frames = framer.receive(request + request, 0ns);
    QCOMPARE(frames, (QList<QByteArray>{request, request}));
    QVERIFY(!framer.deadline());

    // Multiple-write requests carry their length in byte 6.
    const QByteArray write = withModbusCrc(hex("011000010002041234ABCD"));
    QCOMPARE(framer.receive(write.first(5), 1ms), QList<QByteArray>());
    QCOMPARE(framer.receive(write.sliced(5), 2ms), QList<QByteArray>{write});
}

void TestProtocols::framerEndsUnknownFrameOnSilence()
{
    RtuFramer framer(20ms);
    const QByteArray frame = withModbusCrc(hex("012B0E0100"));
    QVERIFY(framer.receive(frame, 100ms).isEmpty());
    QCOMPARE(framer.deadline(), std::optional<kirt::vdev::Nanos>(120ms));
    QVERIFY(!framer.poll(119ms));
    QCOMPARE(framer.poll(120ms), std::optional<QByteArray>(frame));
    QVERIFY(!framer.poll(200ms));
    QVERIFY(!framer.deadline());
}

void TestProtocols::framerSilenceSeparatesFrames()
{
    RtuFramer framer(20ms);
    // Noise, then a request after a gap that nobody polled in between.
    QVERIFY(framer.receive(hex("FF"), 0ms).isEmpty());
    const QByteArray request = hex("010300000002C40B");
    const QList<QByteArray> frames = framer.receive(request, 50ms);
    QCOMPARE(frames, (QList<QByteArray>{hex("FF"), request}));

    // Without a gap the noise runs into the request and both are lost to the CRC.
    ModbusSlave slave(1, 20ms);
    QVERIFY(slave.receive(hex("FF") + request, 0ms).isEmpty());
    QVERIFY(slave.poll(100ms).isEmpty());
    QCOMPARE(slave.receive(request, 200ms), readHoldingResponse(1, 0, 2));
}

void TestProtocols::framerDropsOverlongNoise()
{
    RtuFramer framer(20ms);
    QVERIFY(framer.receive(QByteArray(RtuFramer::MaxFrame, '\x2A'), 0ms).isEmpty());
    QVERIFY(!framer.poll(1s));
    const QByteArray request = hex("010300000002C40B");
    QCOMPARE(framer.receive(request, 2s), QList<QByteArray>{request});
}

void TestProtocols::slaveAnswersRequestSentByteByByte()
{
    ModbusSlave slave(0x11, 20ms);
    const QByteArray request = hex("1103006B00037687");
    QByteArray answers;
    for (qsizetype i = 0; i < request.size(); ++i)
        answers += slave.receive(request.sliced(i, 1), std::chrono::milliseconds(i));
    QCOMPARE(answers, readHoldingResponse(0x11, 0x6B, 3));
    // An unknown function addressed to it is refused once the line goes quiet.
    QVERIFY(slave.receive(withModbusCrc(hex("1107")), 100ms).isEmpty());
    QCOMPARE(slave.poll(120ms), withModbusCrc(hex("118701")));
}

QTEST_GUILESS_MAIN(TestProtocols)
#include "tst_protocols.moc"
