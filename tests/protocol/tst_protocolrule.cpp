#include "protocol/protocolrule.h"
#include "tests/support/columns.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace kirt;

namespace {

ProtocolRule ruleWith(const QString& text, DataFormat format)
{
    ProtocolRule rule;
    rule.setFormat(format);
    rule.parse(text);
    return rule;
}

// Feeds every byte and counts the completions.
int feed(ProtocolRule& rule, const QByteArray& input)
{
    int completions = 0;
    for (const char c : input) {
        if (rule.match(static_cast<std::uint8_t>(c)))
            ++completions;
    }
    return completions;
}

} // namespace

class TestProtocolRule : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void matching_data();
    void matching();
    void countSurvivesUntilReset();
    void longerPacketKeepsProgress();
    void shorterPacketRestartsMatch_data();
    void shorterPacketRestartsMatch();
    void formatChange();
    void junkNeverOverflows();
    void keyFilter_data();
    void keyFilter();
    void countCaption_data();
    void countCaption();
};

void TestProtocolRule::parse_data()
{
    kirt::test::columns<QString, int, QByteArray>({"text", "format", "packet"});

    const int hex = static_cast<int>(DataFormat::Hex);
    const int asc = static_cast<int>(DataFormat::Asc);

    kirt::test::row("HEX pairs", "0203A1", hex, QByteArray("\x02\x03\xA1"));
    kirt::test::row("HEX odd digit ignored", "ABC", hex, QByteArray("\xAB"));
    kirt::test::row("HEX one digit", "A", hex, QByteArray());
    kirt::test::row("HEX lower case", "ab0f", hex, QByteArray("\xAB\x0F"));
    kirt::test::row("HEX pasted non-digits count as 0", "ZZ1G", hex, QByteArray("\x00\x10", 2));
    kirt::test::row("HEX empty", "", hex, QByteArray());
    kirt::test::row("ASC own bytes", "AB\r", asc, QByteArray("AB\r"));
    kirt::test::row("ASC digits stay characters", "0203", asc, QByteArray("0203"));
    kirt::test::row("ASC Latin-1", QString(QChar(0xFF)) + QChar(0x80), asc, QByteArray("\xFF\x80"));
}

void TestProtocolRule::parse()
{
    QFETCH(QString, text);
    QFETCH(int, format);
    QFETCH(QByteArray, packet);

    ProtocolRule rule;
    rule.setFormat(dataFormatFromIndex(format));
    QCOMPARE(rule.parse(text), static_cast<std::uint32_t>(packet.size()));
    QCOMPARE(rule.length(), static_cast<std::uint32_t>(packet.size()));
    QCOMPARE(rule.packet().toByteArray(), packet);
}

void TestProtocolRule::matching_data()
{
    kirt::test::columns<QString, int, QByteArray, int, quint32>(
        {"text", "format", "input", "completions", "progress"});

    const int hex = static_cast<int>(DataFormat::Hex);
    const int asc = static_cast<int>(DataFormat::Asc);

    QTest::newRow("AABB in order") << "AABB" << hex << QByteArray("\xAA\xBB") << 1 << 0u;
    // The second AA breaks the match and is not taken as a new start.
    QTest::newRow("AABB after AA AA") << "AABB" << hex << QByteArray("\xAA\xAA\xBB") << 0 << 0u;
    QTest::newRow("AAAA three AA") << "AAAA" << hex << QByteArray("\xAA\xAA\xAA") << 1 << 1u;
    QTest::newRow("AAAA four AA") << "AAAA" << hex << QByteArray("\xAA\xAA\xAA\xAA") << 2 << 0u;
    QTest::newRow("partial match waits") << "010203" << hex << QByteArray("\x01\x02") << 0 << 2u;
    QTest::newRow("mismatch resets") << "010203" << hex << QByteArray("\x01\x02\x04") << 0 << 0u;
    QTest::newRow("one-byte packet") << "ABC" << hex << QByteArray("\xAB\x00\xAB", 3) << 2 << 0u;
    QTest::newRow("zero bytes match") << "0000" << hex << QByteArray(5, '\0') << 2 << 1u;
    QTest::newRow("ASC in a stream") << "OK" << asc << QByteArray("xOKOKOOK") << 2 << 0u;
    QTest::newRow("ASC case matters") << "OK" << asc << QByteArray("ok") << 0 << 0u;
    QTest::newRow("empty packet never completes") << "" << hex << QByteArray(3, '\0') << 0 << 0u;
}

void TestProtocolRule::matching()
{
    QFETCH(QString, text);
    QFETCH(int, format);
    QFETCH(QByteArray, input);
    QFETCH(int, completions);
    QFETCH(quint32, progress);

    ProtocolRule rule = ruleWith(text, dataFormatFromIndex(format));
    QCOMPARE(feed(rule, input), completions);
    QCOMPARE(rule.responseCount(), static_cast<std::uint32_t>(completions));
    QCOMPARE(rule.progress(), progress);
}

void TestProtocolRule::countSurvivesUntilReset()
{
    ProtocolRule rule = ruleWith(QStringLiteral("0102"), DataFormat::Hex);
    const QByteArray packet("\x01\x02");
    QCOMPARE(feed(rule, packet.repeated(5)), 5);
    QCOMPARE(rule.responseCount(), 5u);

    // A re-parse keeps the count; the enable box clears it but keeps a partial match.
    rule.parse(QStringLiteral("0102"));
    QCOMPARE(rule.responseCount(), 5u);
    QCOMPARE(feed(rule, QByteArray("\x01")), 0);
    rule.resetResponseCount();
    QCOMPARE(rule.responseCount(), 0u);
    QCOMPARE(rule.progress(), 1u);
    QVERIFY(rule.match(0x02));
    QCOMPARE(rule.responseCount(), 1u);
}

void TestProtocolRule::longerPacketKeepsProgress()
{
    ProtocolRule rule = ruleWith(QStringLiteral("AABBCC"), DataFormat::Hex);
    QCOMPARE(feed(rule, QByteArray("\xAA\xBB")), 0);
    rule.parse(QStringLiteral("AABBCCDD"));
    QCOMPARE(rule.progress(), 2u);
    QCOMPARE(feed(rule, QByteArray("\xCC\xDD")), 1);
}

void TestProtocolRule::shorterPacketRestartsMatch_data()
{
    kirt::test::columns<QString, QByteArray, int>({"newText", "input", "completions"});

    // Progress 3 of AABBCCDD, then the packet is edited down to no more than 3 bytes.
    QTest::newRow("to AABBCC, whole packet again") << "AABBCC" << QByteArray("\xAA\xBB\xCC") << 1;
    QTest::newRow("to AABBCC, stale tail") << "AABBCC" << QByteArray("\xCC") << 0;
    QTest::newRow("to AA") << "AA" << QByteArray("\xDD\xAA") << 1;
    QTest::newRow("to one digit") << "A" << QByteArray("\xDD\xAA\x00", 3) << 0;
    QTest::newRow("to nothing") << "" << QByteArray("\xDD\xAA\x00", 3) << 0;
}

void TestProtocolRule::shorterPacketRestartsMatch()
{
    QFETCH(QString, newText);
    QFETCH(QByteArray, input);
    QFETCH(int, completions);

    ProtocolRule rule = ruleWith(QStringLiteral("AABBCCDD"), DataFormat::Hex);
    QCOMPARE(feed(rule, QByteArray("\xAA\xBB\xCC")), 0);
    QCOMPARE(rule.progress(), 3u);

    rule.parse(newText);
    QVERIFY(rule.progress() == 0 || rule.progress() < rule.length());
    QCOMPARE(feed(rule, input), completions);
    QVERIFY(rule.progress() == 0 || rule.progress() < rule.length());
}

void TestProtocolRule::formatChange()
{
    ProtocolRule rule;
    QCOMPARE(rule.format(), DataFormat::Hex);
    QVERIFY(!rule.setFormat(DataFormat::Hex));
    QVERIFY(rule.setFormat(DataFormat::Asc));
    QCOMPARE(rule.parse(QStringLiteral("AB")), 2u);
    QVERIFY(!rule.setFormat(DataFormat::Asc));
    QVERIFY(rule.setFormat(DataFormat::Hex));
    QCOMPARE(rule.parse(QStringLiteral("AB")), 1u);
}

// Pasted text can hold anything; whatever it is, the packet stays within its storage and
// equals what the codec makes of the text the storage has room for.
void TestProtocolRule::junkNeverOverflows()
{
    QRandomGenerator random(20240611);
    const auto capacity = static_cast<qsizetype>(ProtocolRule::PacketCapacity);
    for (int round = 0; round < 400; ++round) {
        QString text(random.bounded(0, 2600), Qt::Uninitialized);
        const int alphabet = random.bounded(3);
        for (QChar& ch : text) {
            if (alphabet == 0)
                ch = QChar(static_cast<char16_t>(random.bounded(0x10000)));
            else if (alphabet == 1)
                ch = QChar(static_cast<char16_t>(random.bounded(0x100)));
            else
                ch = QLatin1Char("0123456789ABCDEFabcdef"[random.bounded(22)]);
        }
        const DataFormat format = random.bounded(2) ? DataFormat::Hex : DataFormat::Asc;

        ProtocolRule rule;
        rule.setFormat(format);
        // A partial match left over from a longer packet must not reach past the new one.
        rule.parse(QString(2000, u'7'));
        QCOMPARE(feed(rule, rule.packet().toByteArray().chopped(1)), 0);
        QCOMPARE(rule.progress(), rule.length() - 1);

        const std::uint32_t length = rule.parse(text);
        QVERIFY(length <= ProtocolRule::PacketCapacity);
        const QByteArray expected = ConvertText(text.left(capacity), format);
        QCOMPARE(rule.packet().toByteArray(), expected);

        for (int i = 0; i < 2000; ++i) {
            rule.match(static_cast<std::uint8_t>(random.bounded(256)));
            QVERIFY(rule.progress() == 0 || rule.progress() < rule.length());
        }
        // From a clean start the packet itself completes exactly once.
        if (rule.progress() != 0) {
            const auto next = static_cast<std::uint8_t>(rule.packet()[rule.progress()]);
            QVERIFY(!rule.match(static_cast<std::uint8_t>(~next)));
        }
        QCOMPARE(rule.progress(), 0u);
        QCOMPARE(feed(rule, expected), length > 0 ? 1 : 0);
    }
}

void TestProtocolRule::keyFilter_data()
{
    kirt::test::columns<int, char16_t, char16_t>({"format", "key", "result"});

    const int hex = static_cast<int>(DataFormat::Hex);
    const int asc = static_cast<int>(DataFormat::Asc);

    QTest::newRow("HEX Enter") << hex << u'\r' << char16_t{0};
    QTest::newRow("ASC Enter") << asc << u'\r' << char16_t{0};
    QTest::newRow("HEX digit") << hex << u'7' << u'7';
    QTest::newRow("HEX upper") << hex << u'F' << u'F';
    QTest::newRow("HEX lower raised") << hex << u'a' << u'A';
    QTest::newRow("HEX g") << hex << u'g' << char16_t{0};
    QTest::newRow("HEX Backspace") << hex << u'\b' << char16_t{0};
    QTest::newRow("ASC lower kept") << asc << u'a' << u'a';
    QTest::newRow("ASC g") << asc << u'g' << u'g';
    QTest::newRow("ASC Backspace") << asc << u'\b' << u'\b';
    QTest::newRow("ASC line feed") << asc << u'\n' << u'\n';
}

void TestProtocolRule::keyFilter()
{
    QFETCH(int, format);
    QFETCH(char16_t, key);
    QFETCH(char16_t, result);
    QCOMPARE(FilterDataKey(dataFormatFromIndex(format), key), result);
}

void TestProtocolRule::countCaption_data()
{
    kirt::test::columns<int, quint32, QString>({"rule", "count", "caption"});

    kirt::test::row("rule 2, 15", 2, 15u, "Protocol No.2 Response Count : 15");
    kirt::test::row("rule 1, 0", 1, 0u, "Protocol No.1 Response Count : 0");
    kirt::test::row("rule 4, unsigned", 4, 4294967295u,
                    "Protocol No.4 Response Count : 4294967295");
}

void TestProtocolRule::countCaption()
{
    QFETCH(int, rule);
    QFETCH(quint32, count);
    QFETCH(QString, caption);
    QCOMPARE(responseCountCaption(rule, count), caption);
}

QTEST_APPLESS_MAIN(TestProtocolRule)
#include "tst_protocolrule.moc"
