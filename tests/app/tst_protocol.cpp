// The auto-responder end to end: rules on the protocol board answering received packets.
#include "tests/support/columns.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

// The rule's format picked first when it is not HEX, then the rule filled in and switched on.
void rule(WindowFixture& f, int n, const QString& packet, const QString& response, int format = 0)
{
    if (format != 0)
        f.choose(QStringLiteral("ProtocolFormatComboBox%1").arg(n), format);
    kirt::test::enableRule(&f.window(), n, packet, response);
}

// Sends the bytes and returns everything the program wrote back within a short while.
QByteArray exchange(WindowFixture& f, const QByteArray& bytes, int expected)
{
    f.device().send(bytes);
    return f.device().receive(expected, expected > 0 ? 3000 : 300);
}

// Has the port to itself while it holds its claim, as a file transfer does.
struct Transfer final : kirt::PortClaimant
{
    QByteArray bytes;
    QString claimName() const override { return QStringLiteral("XMODEM transfer"); }
    void claimEnded(ClaimEnd) override {}
    void received(const std::uint8_t* data, std::size_t size, const kirt::ReadTime&) override
    {
        bytes.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
};

QString count(WindowFixture& f, int n)
{
    return f.find<QLabel>("ResponseCountText" + QString::number(n))->text();
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void rulesAnswerInRuleOrder();
    void echoLeavesBeforeTheResponse();
    void echoAndAnswersOfABatchKeepTheirOrder();
    void aClaimHoldsTheWindowsWritesAndViews();
    void formatChangeEmptiesOnlyThatRuleAndSwitchesItOff();
    void onWithEmptyPacketFallsBackToOff();
    void countRestartsWhenTheEnableBoxIsPicked();
    void portClosedStillCounts();
    void packetEditsFilterKeys();
    void pastedJunkIsHeldToOneLineAndItsLimit();
};

void TestProtocol::matching_data()
{
    kirt::test::columns<QString, QByteArray, int>({"packet", "input", "responses"});
    kirt::test::row("AABB once", "AABB", QByteArray("\xAA\xBB"), 1);
    kirt::test::row("AA AA BB: the second AA is no new start", "AABB", QByteArray("\xAA\xAA\xBB"),
                    0);
    kirt::test::row("AAAA against three", "AAAA", QByteArray(3, '\xAA'), 1);
    kirt::test::row("AAAA against four", "AAAA", QByteArray(4, '\xAA'), 2);
    kirt::test::row("odd digit ignored", "ABC", QByteArray("\xAB"), 1);
}

void TestProtocol::matching()
{
    QFETCH(QString, packet);
    QFETCH(QByteArray, input);
    QFETCH(int, responses);
    WindowFixture f(Device::Pty);
    rule(f, 1, packet, QStringLiteral("55"));
    QVERIFY(f.openPort());
    QCOMPARE(exchange(f, input, responses), QByteArray(responses, '\x55'));
    QCOMPARE(f.window().protocolRule(1).responseCount(), std::uint32_t(responses));
    if (responses > 0)
        QCOMPARE(count(f, 1), QStringLiteral("Protocol No.1 Response Count : %1").arg(responses));
    else
        QCOMPARE(count(f, 1), QStringLiteral("Protocol No.1 Response Count :"));
}

void TestProtocol::rulesAnswerInRuleOrder()
{
    WindowFixture f(Device::Pty);
    rule(f, 1, "0102", "11");
    rule(f, 2, "02", "22");
    rule(f, 3, "0102", "3333", 1); // ASC: the characters' own bytes
    rule(f, 4, "0102", "44");
    QVERIFY(f.openPort());
    QCOMPARE(exchange(f, QByteArray("\x01\x02"), 3), QByteArray("\x11\x22\x44", 3));
    // Rule 3 waits for the text "0102", which the next bytes bring.
    QCOMPARE(exchange(f, QByteArray("0102"), 4), QByteArray("3333"));
    QCOMPARE(count(f, 1), QStringLiteral("Protocol No.1 Response Count : 1"));
    QCOMPARE(count(f, 2), QStringLiteral("Protocol No.2 Response Count : 1"));
    QCOMPARE(count(f, 3), QStringLiteral("Protocol No.3 Response Count : 1"));
}

void TestProtocol::echoLeavesBeforeTheResponse()
{
    WindowFixture f(Device::Pty);
    f.choose("EchoOnOffComboBox", 1);
    rule(f, 1, "0A0B", "C0C1");
    QVERIFY(f.openPort());
    QCOMPARE(exchange(f, QByteArray("\x0A\x0B"), 4), QByteArray("\x0A\x0B\xC0\xC1"));
}

void TestProtocol::aClaimHoldsTheWindowsWritesAndViews()
{
    WindowFixture f(Device::Pty);
    f.choose("EchoOnOffComboBox", 1);
    rule(f, 1, "4142", "21");
    f.choose("TransmitFormatComboBox1", 1); // ASC
    kirt::test::transmitEdit(f, 1)->setPlainText(QStringLiteral("12"));
    f.showWithDisplayFormat(1);
    QVERIFY(f.openPort());
    Transfer transfer;
    QVERIFY(f.window().port().claim(transfer));
    auto* state = f.find<QLabel>("DeviceStateLabel");
    QCOMPARE(state->text(), QStringLiteral(" XMODEM transfer has the port"));

    // Received bytes are the transfer's alone; typed keys and transmit lines wait.
    QVERIFY(f.device().send("AB"));
    QVERIFY(PtyDevice::waitUntil([&] { return transfer.bytes == "AB"; }));
    f.display()->setFocus();
    f.type(QStringLiteral("x"));
    f.press(Qt::Key_1, Qt::AltModifier);
    QCOMPARE(f.device().receive(1, 300), QByteArray());
    QVERIFY(f.display()->displayText().isEmpty());

    f.window().port().release(transfer);
    QVERIFY(!state->isVisible());
    QCOMPARE(exchange(f, "AB", 3), QByteArray("AB!"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText() == "AB"; }));
    f.press(Qt::Key_1, Qt::AltModifier);
    QCOMPARE(f.device().receive(2), QByteArray("12"));
}

void TestProtocol::echoAndAnswersOfABatchKeepTheirOrder()
{
    WindowFixture f(Device::Pty);
    f.choose("EchoOnOffComboBox", 1);
    rule(f, 1, "41", "5A");
    rule(f, 2, "4142", "7E7F");
    QVERIFY(f.openPort());
    // One hand-over carrying several requests: each answer follows the echo of the byte
    // that completed it, rule 1 before rule 2.
    const QByteArray batch("xABAyAB");
    f.window().RxHandOverBegins();
    f.window().StoreRxChunk(reinterpret_cast<const std::uint8_t*>(batch.constData()),
                            static_cast<std::uint32_t>(batch.size()));
    for (qsizetype i = 0; i < batch.size(); ++i)
        f.window().RxDisplayStep();
    f.window().RxDisplayStepsDone();
    const QByteArray expected("xAZB\x7e\x7f"
                              "AZyAZB\x7e\x7f");
    QCOMPARE(f.device().receive(int(expected.size())), expected);

    // The same through the port, many requests in reads of several KB.
    QByteArray stream;
    QByteArray answer;
    for (int i = 0; i < 600; ++i) {
        stream += "..AB.";
        answer += "..AZB\x7e\x7f.";
    }
    QVERIFY(f.device().send(stream));
    QCOMPARE(f.device().receive(int(answer.size()), 10000), answer);
}

void TestProtocol::formatChangeEmptiesOnlyThatRuleAndSwitchesItOff()
{
    WindowFixture f(Device::Pty);
    rule(f, 1, "0102", "03");
    rule(f, 2, "0405", "06");
    f.choose("ProtocolFormatComboBox1", 1);
    QVERIFY(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
    QVERIFY(f.find<kirt::DataLineEdit>("TxEdit1")->toPlainText().isEmpty());
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit1")->maxLength(), 500);
    QCOMPARE(f.find<kirt::DataLineEdit>("TxEdit1")->maxLength(), 500);
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit2")->toPlainText(), QStringLiteral("0405"));
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox2")->currentIndex(), 1);
    // Picking the format in force changes nothing but the limits; back to HEX gives 1000.
    f.find<kirt::DataLineEdit>("RxEdit1")->setPlainText(QStringLiteral("AT"));
    f.choose("ProtocolFormatComboBox1", 1);
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QStringLiteral("AT"));
    f.choose("ProtocolFormatComboBox1", 0);
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit1")->maxLength(), 1000);
    QVERIFY(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
}

void TestProtocol::onWithEmptyPacketFallsBackToOff()
{
    WindowFixture f(Device::Pty);
    rule(f, 1, "", "55");
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    rule(f, 1, "A", "55"); // one digit is no byte: the edit is emptied too
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    QVERIFY(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(f.answers.messages.isEmpty());
    // An enabled rule edited down to nothing switches itself off.
    rule(f, 1, "77", "55");
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 1);
    f.find<kirt::DataLineEdit>("RxEdit1")->setPlainText(QStringLiteral("7"));
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
}

void TestProtocol::countRestartsWhenTheEnableBoxIsPicked()
{
    WindowFixture f(Device::Pty);
    rule(f, 1, "99", "");
    QVERIFY(f.openPort());
    // An empty response sends nothing but still counts.
    QCOMPARE(exchange(f, QByteArray(5, '\x99'), 0), QByteArray());
    QVERIFY(PtyDevice::waitUntil([&] { return f.window().protocolRule(1).responseCount() == 5; }));
    f.choose("ProtocolEnableComboBox1", 1);
    QCOMPARE(f.window().protocolRule(1).responseCount(), 0u);
    QCOMPARE(count(f, 1), QStringLiteral("Protocol No.1 Response Count : 5"));
    f.device().send(QByteArray(1, '\x99'));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return count(f, 1) == QStringLiteral("Protocol No.1 Response Count : 1"); }));
}

void TestProtocol::portClosedStillCounts()
{
    WindowFixture f(Device::Pty);
    rule(f, 1, "4142", "5A");
    // Bytes displayed while no port is open (the last steps after a close) still match.
    const std::uint8_t bytes[2] = {0x41, 0x42};
    f.window().StoreRxChunk(bytes, 2);
    f.window().RxDisplayStep();
    f.window().RxDisplayStep();
    f.window().RxDisplayStepsDone();
    QCOMPARE(f.window().protocolRule(1).responseCount(), 1u);
    QCOMPARE(count(f, 1), QStringLiteral("Protocol No.1 Response Count : 1"));
    QCOMPARE(f.device().receive(1, 200), QByteArray());
}

void TestProtocol::packetEditsFilterKeys()
{
    WindowFixture f(Device::Pty);
    f.window().show();
    auto* rx = f.find<kirt::DataLineEdit>("RxEdit2");
    rx->setFocus();
    QTest::keyClicks(rx, QStringLiteral("a1g-"));
    QTest::keyClick(rx, Qt::Key_Return);
    QCOMPARE(rx->toPlainText(), QStringLiteral("A1"));
    QTest::keyClick(rx, Qt::Key_Backspace);
    QCOMPARE(rx->toPlainText(), QStringLiteral("A1"));
    f.choose("ProtocolFormatComboBox2", 1);
    auto* tx = f.find<kirt::DataLineEdit>("TxEdit2");
    tx->setFocus();
    QTest::keyClicks(tx, QStringLiteral("ok g-"));
    QTest::keyClick(tx, Qt::Key_Return);
    QCOMPARE(tx->toPlainText(), QStringLiteral("ok g-"));
}

void TestProtocol::pastedJunkIsHeldToOneLineAndItsLimit()
{
    WindowFixture f(Device::Pty);
    auto* rx = f.find<kirt::DataLineEdit>("RxEdit3");
    QApplication::clipboard()->setText(QStringLiteral("11\n22\nZZ33") +
                                       QString(3000, QChar(0x20AC)));
    rx->paste();
    // Only the last line is kept, and no more than the limit of characters.
    QVERIFY(!rx->toPlainText().contains(u'\n'));
    QVERIFY(rx->toPlainText().startsWith(QStringLiteral("ZZ33")));
    QVERIFY(rx->toPlainText().size() <= 1000);
    f.choose("ProtocolEnableComboBox3", 1);
    QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox3")->currentIndex(), 1);
    QVERIFY(f.window().protocolRule(3).length() <= 500);
}

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
