// The auto-responder end to end: rules on the protocol board answering received packets.
#include "app/Umain.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/datalineedit.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::DialogAnswerer;
using kirt::test::TempSettings;

namespace {

struct Responder
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    TFmain window;

    template <typename T> T* find(const QString& name)
    {
        auto* w = window.findChild<T*>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    void choose(const QString& box, int index)
    {
        auto* combo = find<QComboBox>(box);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // Packet and response text, then "ON" picked in the rule's enable box.
    void rule(int n, const QString& packet, const QString& response, int format = 0)
    {
        const QString num = QString::number(n);
        if (format != 0)
            choose("ProtocolFormatComboBox" + num, format);
        find<kirt::DataLineEdit>("RxEdit" + num)->setPlainText(packet);
        find<kirt::DataLineEdit>("TxEdit" + num)->setPlainText(response);
        choose("ProtocolEnableComboBox" + num, 1);
    }
    bool open()
    {
        window.COM_BitBtnClick();
        return window.portOpen();
    }
    // Sends the bytes and returns everything the program wrote back within a short while.
    QByteArray exchange(const QByteArray& bytes, int expected)
    {
        device.send(bytes);
        return device.receive(expected, expected > 0 ? 3000 : 300);
    }
    QString count(int n) { return find<QLabel>("ResponseCountText" + QString::number(n))->text(); }
};

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void rulesAnswerInRuleOrder();
    void echoLeavesBeforeTheResponse();
    void formatChangeEmptiesOnlyThatRuleAndSwitchesItOff();
    void onWithEmptyPacketFallsBackToOff();
    void countRestartsWhenTheEnableBoxIsPicked();
    void portClosedStillCounts();
    void packetEditsFilterKeys();
    void pastedJunkIsHeldToOneLineAndItsLimit();
};

void TestProtocol::matching_data()
{
    QTest::addColumn<QString>("packet");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("responses");
    QTest::newRow("AABB once") << "AABB" << QByteArray("\xAA\xBB") << 1;
    QTest::newRow("AA AA BB: the second AA is no new start")
        << "AABB" << QByteArray("\xAA\xAA\xBB") << 0;
    QTest::newRow("AAAA against three") << "AAAA" << QByteArray(3, '\xAA') << 1;
    QTest::newRow("AAAA against four") << "AAAA" << QByteArray(4, '\xAA') << 2;
    QTest::newRow("odd digit ignored") << "ABC" << QByteArray("\xAB") << 1;
}

void TestProtocol::matching()
{
    QFETCH(QString, packet);
    QFETCH(QByteArray, input);
    QFETCH(int, responses);
    Responder r;
    r.rule(1, packet, QStringLiteral("55"));
    QVERIFY(r.open());
    QCOMPARE(r.exchange(input, responses), QByteArray(responses, '\x55'));
    QCOMPARE(r.window.protocolRule(1).responseCount(), std::uint32_t(responses));
    if (responses > 0)
        QCOMPARE(r.count(1), QStringLiteral("Protocol No.1 Response Count : %1").arg(responses));
    else
        QCOMPARE(r.count(1), QStringLiteral("Protocol No.1 Response Count :"));
}

void TestProtocol::rulesAnswerInRuleOrder()
{
    Responder r;
    r.rule(1, "0102", "11");
    r.rule(2, "02", "22");
    r.rule(3, "0102", "3333", 1); // ASC: the characters' own bytes
    r.rule(4, "0102", "44");
    QVERIFY(r.open());
    QCOMPARE(r.exchange(QByteArray("\x01\x02"), 3), QByteArray("\x11\x22\x44", 3));
    // Rule 3 waits for the text "0102", which the next bytes bring.
    QCOMPARE(r.exchange(QByteArray("0102"), 4), QByteArray("3333"));
    QCOMPARE(r.count(1), QStringLiteral("Protocol No.1 Response Count : 1"));
    QCOMPARE(r.count(2), QStringLiteral("Protocol No.2 Response Count : 1"));
    QCOMPARE(r.count(3), QStringLiteral("Protocol No.3 Response Count : 1"));
}

void TestProtocol::echoLeavesBeforeTheResponse()
{
    Responder r;
    r.choose("EchoOnOffComboBox", 1);
    r.rule(1, "0A0B", "C0C1");
    QVERIFY(r.open());
    QCOMPARE(r.exchange(QByteArray("\x0A\x0B"), 4), QByteArray("\x0A\x0B\xC0\xC1"));
}

void TestProtocol::formatChangeEmptiesOnlyThatRuleAndSwitchesItOff()
{
    Responder r;
    r.rule(1, "0102", "03");
    r.rule(2, "0405", "06");
    r.choose("ProtocolFormatComboBox1", 1);
    QVERIFY(r.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
    QVERIFY(r.find<kirt::DataLineEdit>("TxEdit1")->toPlainText().isEmpty());
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    QCOMPARE(r.find<kirt::DataLineEdit>("RxEdit1")->maxLength(), 500);
    QCOMPARE(r.find<kirt::DataLineEdit>("TxEdit1")->maxLength(), 500);
    QCOMPARE(r.find<kirt::DataLineEdit>("RxEdit2")->toPlainText(), QStringLiteral("0405"));
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox2")->currentIndex(), 1);
    // Picking the format in force changes nothing but the limits; back to HEX gives 1000.
    r.find<kirt::DataLineEdit>("RxEdit1")->setPlainText(QStringLiteral("AT"));
    r.choose("ProtocolFormatComboBox1", 1);
    QCOMPARE(r.find<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QStringLiteral("AT"));
    r.choose("ProtocolFormatComboBox1", 0);
    QCOMPARE(r.find<kirt::DataLineEdit>("RxEdit1")->maxLength(), 1000);
    QVERIFY(r.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
}

void TestProtocol::onWithEmptyPacketFallsBackToOff()
{
    Responder r;
    r.rule(1, "", "55");
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    r.rule(1, "A", "55"); // one digit is no byte: the edit is emptied too
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
    QVERIFY(r.find<kirt::DataLineEdit>("RxEdit1")->toPlainText().isEmpty());
    QVERIFY(r.answers.errors.isEmpty());
    QVERIFY(r.answers.messages.isEmpty());
    // An enabled rule edited down to nothing switches itself off.
    r.rule(1, "77", "55");
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 1);
    r.find<kirt::DataLineEdit>("RxEdit1")->setPlainText(QStringLiteral("7"));
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox1")->currentIndex(), 0);
}

void TestProtocol::countRestartsWhenTheEnableBoxIsPicked()
{
    Responder r;
    r.rule(1, "99", "");
    QVERIFY(r.open());
    // An empty response sends nothing but still counts.
    QCOMPARE(r.exchange(QByteArray(5, '\x99'), 0), QByteArray());
    QVERIFY(PtyDevice::waitUntil([&] { return r.window.protocolRule(1).responseCount() == 5; }));
    r.choose("ProtocolEnableComboBox1", 1);
    QCOMPARE(r.window.protocolRule(1).responseCount(), 0u);
    QCOMPARE(r.count(1), QStringLiteral("Protocol No.1 Response Count : 5"));
    r.device.send(QByteArray(1, '\x99'));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return r.count(1) == QStringLiteral("Protocol No.1 Response Count : 1"); }));
}

void TestProtocol::portClosedStillCounts()
{
    Responder r;
    r.rule(1, "4142", "5A");
    // Bytes displayed while no port is open (the last steps after a close) still match.
    const std::uint8_t bytes[2] = {0x41, 0x42};
    r.window.StoreRxChunk(bytes, 2);
    r.window.RxDisplayStep();
    r.window.RxDisplayStep();
    r.window.RxDisplayStepsDone();
    QCOMPARE(r.window.protocolRule(1).responseCount(), 1u);
    QCOMPARE(r.count(1), QStringLiteral("Protocol No.1 Response Count : 1"));
    QCOMPARE(r.device.receive(1, 200), QByteArray());
}

void TestProtocol::packetEditsFilterKeys()
{
    Responder r;
    r.window.show();
    auto* rx = r.find<kirt::DataLineEdit>("RxEdit2");
    rx->setFocus();
    QTest::keyClicks(rx, QStringLiteral("a1g-"));
    QTest::keyClick(rx, Qt::Key_Return);
    QCOMPARE(rx->toPlainText(), QStringLiteral("A1"));
    QTest::keyClick(rx, Qt::Key_Backspace);
    QCOMPARE(rx->toPlainText(), QStringLiteral("A1"));
    r.choose("ProtocolFormatComboBox2", 1);
    auto* tx = r.find<kirt::DataLineEdit>("TxEdit2");
    tx->setFocus();
    QTest::keyClicks(tx, QStringLiteral("ok g-"));
    QTest::keyClick(tx, Qt::Key_Return);
    QCOMPARE(tx->toPlainText(), QStringLiteral("ok g-"));
}

void TestProtocol::pastedJunkIsHeldToOneLineAndItsLimit()
{
    Responder r;
    auto* rx = r.find<kirt::DataLineEdit>("RxEdit3");
    QApplication::clipboard()->setText(QStringLiteral("11\n22\nZZ33") +
                                       QString(3000, QChar(0x20AC)));
    rx->paste();
    // Only the last line is kept, and no more than the limit of characters.
    QVERIFY(!rx->toPlainText().contains(u'\n'));
    QVERIFY(rx->toPlainText().startsWith(QStringLiteral("ZZ33")));
    QVERIFY(rx->toPlainText().size() <= 1000);
    r.choose("ProtocolEnableComboBox3", 1);
    QCOMPARE(r.find<QComboBox>("ProtocolEnableComboBox3")->currentIndex(), 1);
    QVERIFY(r.window.protocolRule(3).length() <= 500);
}

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
