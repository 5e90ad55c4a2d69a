// The telnet framing of a remote serial port: data and commands apart whatever the reads cut,
// the exact bytes of our commands, and an option negotiation that cannot loop.
#include "serial/rfc2217codec.h"
#include "tests/support/columns.h"

#include <QTest>

using namespace kirt::telnet;

namespace {

struct Decoded
{
    Bytes data;
    std::vector<Event> events;
};

// Decodes the stream in reads that end at the given cut positions.
Decoded decodeInReads(const Bytes& stream, const std::vector<std::size_t>& cuts)
{
    Decoder decoder;
    Decoded out;
    std::size_t start = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(stream.size());
    for (const std::size_t end : ends) {
        Bytes read(stream.begin() + static_cast<std::ptrdiff_t>(start),
                   stream.begin() + static_cast<std::ptrdiff_t>(end));
        // In place, as the port decodes.
        const std::size_t n = decoder.decode(read.data(), read.size(), read.data(), out.events);
        out.data.insert(out.data.end(), read.begin(),
                        read.begin() + static_cast<std::ptrdiff_t>(n));
        start = end;
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What ser2net sends when a client connects, as captured from it.
const Bytes Ser2netGreeting{0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x01, 0xFF, 0xFE,
                            0x01, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x2C, 0xFF,
                            0xFD, 0x03, 0xFF, 0xFA, 0x2C, 0x6B, 0x00, 0xFF, 0xF0};

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestRfc2217Codec : public QObject
{
    Q_OBJECT

private slots:
    void mixedStreamSplitAnywhere();
    void iacAtEveryPositionOfARead();
    void everyByteValueRoundTrips();
    void commandInsideASubnegotiation();
    void encodersGiveExactBytes_data();
    void encodersGiveExactBytes();
    void repliesOfTheServer();
    void settingsMapToWireCodes();
    void negotiationAsksOnceAndRefusesOnce();
    void ser2netGreetingIsAnsweredOnce();
};

void TestRfc2217Codec::mixedStreamSplitAnywhere()
{
    // Data, a doubled IAC, a negotiation, two subnegotiations (one with a doubled IAC inside)
    // and a NOP, in one stream.
    const Bytes stream = Bytes{'a', 'b', Iac, Iac, Iac, Will, OptionEcho, 'c'} +
                         Bytes{Iac, Sb, OptionComPort, 101, 0x00, 0x03, 0xD0, 0x90, Iac, Se} +
                         Bytes{Iac, Sb, OptionComPort, 107, Iac, Iac, Iac, Se, Iac, Nop, 'd'} +
                         Bytes{Iac, Iac};
    const Bytes data{'a', 'b', 0xFF, 'c', 'd', 0xFF};
    const std::vector<Event> events{
        {Event::Kind::Negotiation, Will, OptionEcho, {}},
        {Event::Kind::Subnegotiation, 0, OptionComPort, {101, 0x00, 0x03, 0xD0, 0x90}},
        {Event::Kind::Subnegotiation, 0, OptionComPort, {107, 0xFF}},
        {Event::Kind::Command, 0, Nop, {}},
    };

    const Decoded whole = decodeInReads(stream, {});
    QCOMPARE(whole.data, data);
    QVERIFY(whole.events == events);

    // Two and three reads, cut at every pair of boundaries; then one byte a read.
    for (std::size_t first = 0; first <= stream.size(); ++first) {
        for (std::size_t second = first; second <= stream.size(); ++second) {
            const Decoded cut = decodeInReads(stream, {first, second});
            QVERIFY2(cut.data == data && cut.events == events,
                     qPrintable(QStringLiteral("cut at %1 and %2").arg(first).arg(second)));
        }
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < stream.size(); ++i)
        everyByte.push_back(i);
    const Decoded single = decodeInReads(stream, everyByte);
    QCOMPARE(single.data, data);
    QVERIFY(single.events == events);
}

void TestRfc2217Codec::iacAtEveryPositionOfARead()
{
    for (std::size_t readSize = 1; readSize <= 6; ++readSize) {
        for (std::size_t position = 0; position < 12; ++position) {
            Bytes data(12);
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<std::uint8_t>('A' + i);
            data[position] = 0xFF;
            Bytes stream;
            appendEscaped(stream, data.data(), data.size());
            QCOMPARE(stream.size(), data.size() + 1);

            std::vector<std::size_t> cuts;
            for (std::size_t cut = readSize; cut < stream.size(); cut += readSize)
                cuts.push_back(cut);
            const Decoded decoded = decodeInReads(stream, cuts);
            QVERIFY2(
                decoded.data == data && decoded.events.empty(),
                qPrintable(QStringLiteral("read size %1, IAC at %2").arg(readSize).arg(position)));
        }
    }
}

void TestRfc2217Codec::everyByteValueRoundTrips()
{
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    Bytes stream;
    appendEscaped(stream, all.data(), all.size());
    QCOMPARE(stream.size(), 257u);
    QCOMPARE(stream[255], Iac);
    QCOMPARE(stream[256], Iac);
    const Decoded decoded = decodeInReads(stream, {100, 256});
    QCOMPARE(decoded.data, all);
    QVERIFY(decoded.events.empty());
}

void TestRfc2217Codec::commandInsideASubnegotiation()
{
    // A subnegotiation broken off by a command: the command counts, the fragment does not,
    // and the data after it is data again.
    const Bytes stream{Iac, Sb, OptionComPort, 107, 0x30, Iac, Do, OptionBinary, 'x', Iac, Iac};
    const Decoded decoded = decodeInReads(stream, {6});
    QCOMPARE(decoded.data, (Bytes{'x', 0xFF}));
    QCOMPARE(decoded.events.size(), 1u);
    QVERIFY(decoded.events[0] == (Event{Event::Kind::Negotiation, Do, OptionBinary, {}}));
}

void TestRfc2217Codec::encodersGiveExactBytes_data()
{
    QTest::addColumn<Bytes>("encoded");
    QTest::addColumn<Bytes>("expected");

    kirt::test::row("rate 250000", setBaudRate(250000),
                    Bytes{Iac, Sb, 44, 1, 0x00, 0x03, 0xD0, 0x90, Iac, Se});
    kirt::test::row("rate query", setBaudRate(0), Bytes{Iac, Sb, 44, 1, 0, 0, 0, 0, Iac, Se});
    kirt::test::row("rate with IAC bytes", setBaudRate(65535),
                    Bytes{Iac, Sb, 44, 1, 0, 0, Iac, Iac, Iac, Iac, Iac, Se});
    kirt::test::row("7 data bits", setDataSize(7), Bytes{Iac, Sb, 44, 2, 7, Iac, Se});
    kirt::test::row("mark parity", setParity(*parityCode(kirt::Parity::Mark)),
                    Bytes{Iac, Sb, 44, 3, 4, Iac, Se});
    kirt::test::row("1.5 stop bits", setStopSize(*stopSizeCode(kirt::StopBits::OneAndHalf)),
                    Bytes{Iac, Sb, 44, 4, 3, Iac, Se});
    kirt::test::row("RTS/CTS", setControl(ComControl::FlowHardware),
                    Bytes{Iac, Sb, 44, 5, 3, Iac, Se});
    kirt::test::row("DTR off", setControl(ComControl::DtrOff), Bytes{Iac, Sb, 44, 5, 9, Iac, Se});
    kirt::test::row("break on", setControl(ComControl::BreakOn), Bytes{Iac, Sb, 44, 5, 5, Iac, Se});
    kirt::test::row("modem mask", setModemStateMask(0xFF),
                    Bytes{Iac, Sb, 44, 11, Iac, Iac, Iac, Se});
    kirt::test::row("purge both", purgeData(ComPurge::Both), Bytes{Iac, Sb, 44, 12, 3, Iac, Se});
}

void TestRfc2217Codec::encodersGiveExactBytes()
{
    QFETCH(Bytes, encoded);
    QFETCH(Bytes, expected);
    QCOMPARE(encoded, expected);
}

void TestRfc2217Codec::repliesOfTheServer()
{
    const auto reply = [](Bytes payload) {
        return comReply({Event::Kind::Subnegotiation, 0, OptionComPort, std::move(payload)});
    };
    const auto rate = reply({101, 0x00, 0x03, 0xD0, 0x90});
    QVERIFY(rate);
    QCOMPARE(rate->command, ComCommand::SetBaudRate);
    QCOMPARE(rate->value, 250000u);

    const auto modem = reply({107, ModemCd | ModemCts});
    QVERIFY(modem);
    QCOMPARE(modem->command, ComCommand::NotifyModemState);
    QCOMPARE(modem->value, 0x90u);

    const auto signature = reply({100, 's', '2', 'n'});
    QVERIFY(signature);
    QCOMPARE(signature->text, (Bytes{'s', '2', 'n'}));

    QVERIFY(!reply({101, 0x00, 0x03})); // a rate needs four bytes
    QVERIFY(!reply({102}));             // no value
    QVERIFY(!reply({2, 8}));            // a client's command, not a reply
    QVERIFY(!reply({113, 1}));          // beyond the last command
    QVERIFY(!comReply({Event::Kind::Subnegotiation, 0, 24, {101, 0, 0, 0, 1}}));
}

void TestRfc2217Codec::settingsMapToWireCodes()
{
    for (std::uint8_t choice = 0; choice < 5; ++choice)
        QCOMPARE(parityCode(static_cast<kirt::Parity>(choice)),
                 std::optional<std::uint8_t>(choice + 1));
    QVERIFY(!parityCode(static_cast<kirt::Parity>(5)));
    QCOMPARE(stopSizeCode(kirt::StopBits::One), std::optional<std::uint8_t>(1));
    QCOMPARE(stopSizeCode(kirt::StopBits::OneAndHalf), std::optional<std::uint8_t>(3));
    QCOMPARE(stopSizeCode(kirt::StopBits::Two), std::optional<std::uint8_t>(2));
    QVERIFY(!stopSizeCode(static_cast<kirt::StopBits>(3)));
    QCOMPARE(flowControlCode(kirt::FlowControl::None), ComControl::FlowNone);
    QCOMPARE(flowControlCode(kirt::FlowControl::Software), ComControl::FlowXonXoff);
    QCOMPARE(flowControlCode(kirt::FlowControl::Hardware), ComControl::FlowHardware);
}

void TestRfc2217Codec::negotiationAsksOnceAndRefusesOnce()
{
    Negotiation negotiation;
    QCOMPARE(negotiation.start(),
             (Bytes{Iac, Do, 0, Iac, Will, 0, Iac, Do, 3, Iac, Will, 3, Iac, Will, 44}));
    QVERIFY(negotiation.start().empty());
    QVERIFY(!negotiation.localSettled(OptionComPort));

    // Agreement to what we asked is not answered.
    QVERIFY(negotiation.receive(Do, OptionComPort).empty());
    QVERIFY(negotiation.local(OptionComPort));
    QVERIFY(negotiation.receive(Will, OptionBinary).empty());
    QVERIFY(negotiation.remote(OptionBinary));
    QVERIFY(negotiation.receive(Will, OptionBinary).empty());

    // A refusal of what we asked settles it off, silently.
    QVERIFY(negotiation.receive(Dont, OptionSuppressGoAhead).empty());
    QVERIFY(negotiation.localSettled(OptionSuppressGoAhead));
    QVERIFY(!negotiation.local(OptionSuppressGoAhead));

    // An unknown option is refused once, however often it is offered.
    QCOMPARE(negotiation.receive(Will, OptionEcho), (Bytes{Iac, Dont, OptionEcho}));
    QVERIFY(negotiation.receive(Will, OptionEcho).empty());
    QCOMPARE(negotiation.receive(Do, 24), (Bytes{Iac, Wont, 24}));
    QVERIFY(negotiation.receive(Do, 24).empty());
    QVERIFY(!negotiation.remote(OptionEcho));
    // Offer and withdrawal in a loop: the refusal stands and is not said again.
    for (int round = 0; round < 3; ++round) {
        QVERIFY(negotiation.receive(Wont, OptionEcho).empty());
        QVERIFY(negotiation.receive(Will, OptionEcho).empty());
        QVERIFY(negotiation.receive(Dont, 24).empty());
        QVERIFY(negotiation.receive(Do, 24).empty());
    }
    QVERIFY(!negotiation.remote(OptionEcho) && !negotiation.local(24));

    // Turning off an option that was on is acknowledged once.
    QCOMPARE(negotiation.receive(Wont, OptionBinary), (Bytes{Iac, Dont, OptionBinary}));
    QVERIFY(negotiation.receive(Wont, OptionBinary).empty());
    QVERIFY(!negotiation.remote(OptionBinary));
    // And a wanted option offered anew is taken.
    QCOMPARE(negotiation.receive(Will, OptionBinary), (Bytes{Iac, Do, OptionBinary}));
}

void TestRfc2217Codec::ser2netGreetingIsAnsweredOnce()
{
    Negotiation negotiation;
    negotiation.start();
    const Decoded greeting = decodeInReads(Ser2netGreeting, {});
    Bytes answers;
    for (const Event& event : greeting.events) {
        if (event.kind == Event::Kind::Negotiation)
            answers = answers + negotiation.receive(event.verb, event.code);
    }
    // Everything it offers we asked for, except its echo; SUPPRESS-GO-AHEAD comes twice.
    QCOMPARE(answers, (Bytes{Iac, Dont, OptionEcho}));
    QVERIFY(negotiation.local(OptionComPort));
    QVERIFY(negotiation.local(OptionBinary) && negotiation.remote(OptionBinary));
    QVERIFY(negotiation.local(OptionSuppressGoAhead) && negotiation.remote(OptionSuppressGoAhead));
    QVERIFY(greeting.data.empty());
}

QTEST_GUILESS_MAIN(TestRfc2217Codec)
#include "tst_rfc2217codec.moc"
