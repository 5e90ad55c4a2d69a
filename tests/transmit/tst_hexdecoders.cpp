// Every place that decodes HEX text gives each byte value back from its digits: the transmit
// buffer, the text conversion and the protocol packet run the same test.
#include "base/codec.h"
#include "display/bytetext.h"
#include "protocol/protocolrule.h"

#include <QtTest>

using namespace kirt;

class HexDecoderTest : public QObject
{
    Q_OBJECT

protected:
    // The decoder under test: HEX text in, bytes out.
    virtual QByteArray decode(const QString& text) = 0;

private slots:
    void everyByte_data();
    void everyByte();
};

void HexDecoderTest::everyByte_data()
{
    QTest::addColumn<int>("value");
    const char* name = metaObject()->className();
    for (int value = 0; value < 256; ++value)
        QTest::addRow("%s - 0x%02X", name, value) << value;
}

void HexDecoderTest::everyByte()
{
    QFETCH(int, value);
    const auto byte = static_cast<std::uint8_t>(value);
    const QByteArray one(1, static_cast<char>(byte));
    const QString digits = HexByte(byte);
    QCOMPARE(decode(digits), one);
    QCOMPARE(decode(digits.toLower()), one);
    // As the display shows it, blank and all: the odd character is ignored.
    QCOMPARE(decode(ByteText(DataFormat::Hex, byte)), one);
    // Pairs go strictly by position, also after another pair, and a non-digit counts as 0.
    QCOMPARE(decode(QStringLiteral("7e") + digits + u'F'), QByteArray("\x7E") + one);
    QCOMPARE(decode(QStringLiteral("G") + digits[1]), QByteArray(1, static_cast<char>(byte & 15)));
}

class ConvertTransmitTextTest : public HexDecoderTest
{
    Q_OBJECT

protected:
    QByteArray decode(const QString& text) override
    {
        TransmitBuffer buffer{};
        LoadTransmitText(buffer, text);
        const std::uint32_t n = ConvertTransmitText(buffer, DataFormat::Hex);
        return QByteArray(reinterpret_cast<const char*>(buffer.data()), static_cast<qsizetype>(n));
    }
};

class ConvertTextTest : public HexDecoderTest
{
    Q_OBJECT

protected:
    QByteArray decode(const QString& text) override { return ConvertText(text, DataFormat::Hex); }
};

class ProtocolRuleTest : public HexDecoderTest
{
    Q_OBJECT

protected:
    QByteArray decode(const QString& text) override
    {
        ProtocolRule rule;
        rule.parse(text);
        return rule.packet().toByteArray();
    }
};

int main(int argc, char** argv)
{
    ConvertTransmitTextTest buffer;
    ConvertTextTest text;
    ProtocolRuleTest protocol;
    int failed = 0;
    for (QObject* test : std::initializer_list<QObject*>{&buffer, &text, &protocol})
        failed += QTest::qExec(test, argc, argv);
    return failed;
}

#include "tst_hexdecoders.moc"
