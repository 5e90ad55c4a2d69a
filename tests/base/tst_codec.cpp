// The data codec: key filter, pair decoding, conversion into the shared buffer, one-line rule.
#include "base/codec.h"
#include "tests/support/columns.h"

#include <QtTest>

using namespace kirt;

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void exactlyTwentyTwoKeysPass();
    void decodeHexPair_data();
    void decodeHexPair();
    void convert_data();
    void convert();
    void bufferNeverOverflows();
    void lastLine_data();
    void lastLine();
    void hexDumpPaste_data();
    void hexDumpPaste();
};

void TestCodec::exactlyTwentyTwoKeysPass()
{
    int passed = 0;
    for (char16_t c = 0; c < 256; ++c) {
        const char16_t out = FilterHexDigitKey(c);
        if (out == 0)
            continue;
        ++passed;
        QVERIFY(QByteArray("0123456789ABCDEF").contains(static_cast<char>(out)));
        QCOMPARE(QChar(out), QChar(c).toUpper());
    }
    QCOMPARE(passed, 22);
    QCOMPARE(FilterHexDigitKey(u'\r'), char16_t{0});
    QCOMPARE(FilterHexDigitKey(u'\b'), char16_t{0});
    QCOMPARE(FilterHexDigitKey(u'G'), char16_t{0});
}

void TestCodec::decodeHexPair_data()
{
    kirt::test::columns<QByteArray, int>({"pair", "value"});
    QTest::newRow("lower") << QByteArray("7f") << 0x7F;
    QTest::newRow("upper") << QByteArray("7F") << 0x7F;
    QTest::newRow("zero") << QByteArray("00") << 0x00;
    QTest::newRow("ff") << QByteArray("FF") << 0xFF;
    // A pasted non-digit counts as 0 and keeps its place.
    QTest::newRow("junk high") << QByteArray("G5") << 0x05;
    QTest::newRow("junk low") << QByteArray("5 ") << 0x50;
}

void TestCodec::decodeHexPair()
{
    QFETCH(QByteArray, pair);
    QFETCH(int, value);
    QCOMPARE(int(DecodeHexPair(pair.constData())), value);
    QCOMPARE(int(DecodeHexPair(char16_t(pair[0]), char16_t(pair[1]))), value);
}

void TestCodec::convert_data()
{
    kirt::test::columns<QString, int, QByteArray>({"text", "format", "bytes"});
    kirt::test::row("odd digit ignored", "AB1", 0, QByteArray("\xAB", 1));
    kirt::test::row("single digit", "A", 0, QByteArray());
    kirt::test::row("empty", "", 0, QByteArray());
    kirt::test::row("pasted lower case", "0a1b", 0, QByteArray("\x0A\x1B", 2));
    kirt::test::row("pairs by position, blank counts as 0", "01 23", 0, QByteArray("\x01\x02", 2));
    kirt::test::row("asc", "Hi", 1, QByteArray("Hi"));
    kirt::test::row("asc blank", " ", 1, QByteArray(" "));
    kirt::test::row("asc latin-1 byte", QString(QChar(0xE9)), 1, QByteArray("\xE9", 1));
}

void TestCodec::convert()
{
    QFETCH(QString, text);
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    TransmitBuffer buffer{};
    LoadTransmitText(buffer, text);
    const std::uint32_t count = ConvertTransmitText(buffer, dataFormatFromIndex(format));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer.data()), int(count)), bytes);
    QCOMPARE(ConvertText(text, dataFormatFromIndex(format)), bytes);
}

void TestCodec::bufferNeverOverflows()
{
    // However long the text, the buffer keeps room for CR LF after the converted bytes.
    TransmitBuffer buffer;
    buffer.fill(0xEE);
    LoadTransmitText(buffer, QString(5000, u'A'));
    QCOMPARE(ConvertTransmitText(buffer, DataFormat::Asc), std::uint32_t(TransmitTextMax));
    QCOMPARE(buffer[TransmitTextMax], 0);
    LoadTransmitText(buffer, QString(5000, u'7'));
    QCOMPARE(ConvertTransmitText(buffer, DataFormat::Hex), std::uint32_t(TransmitTextMax / 2));
    QCOMPARE(buffer[0], 0x77);
    // Characters beyond ISO-8859-1 still take one byte each.
    LoadTransmitText(buffer, QString(600, QChar(0x20AC)));
    QCOMPARE(ConvertTransmitText(buffer, DataFormat::Asc), 600u);
}

void TestCodec::lastLine_data()
{
    kirt::test::columns<QString, QString>({"text", "kept"});
    kirt::test::row("one line", "AB", "AB");
    kirt::test::row("three pasted lines", "11\n22\n33", "33");
    kirt::test::row("break at the end belongs to the line", "AB\n", "AB\n");
    kirt::test::row("two lines and a final break", "11\n22\n", "22\n");
    kirt::test::row("windows breaks", "11\r\n22", "22");
    kirt::test::row("empty", "", "");
}

void TestCodec::lastLine()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    QCOMPARE(LastLineOf(text), kept);
}

void TestCodec::hexDumpPaste_data()
{
    kirt::test::columns<QString, QString>({"pasted", "kept"});
    kirt::test::row("blanks", "01 03 00 00 00 0A C5 CD", "01030000000AC5CD");
    kirt::test::row("tabs, commas, colons, semicolons", "01\t03,00:0A;C5", "0103000AC5");
    kirt::test::row("C array", "0x01, 0X03,0xff", "0103ff");
    kirt::test::row("0x only where a value starts", "A0x1 10X", "A0x110X");
    kirt::test::row("a line per row", "0x01\n0x02", "01\n02");
    kirt::test::row("junk stays in place", "G1-2 zz", "G1-2zz");
    kirt::test::row("nothing but separators", " ,;: \t", "");
}

void TestCodec::hexDumpPaste()
{
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    QCOMPARE(StripHexDumpSeparators(pasted), kept);
}

QTEST_APPLESS_MAIN(TestCodec)
#include "tst_codec.moc"
