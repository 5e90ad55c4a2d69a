#include "checksum/checksum.h"
#include "tests/support/columns.h"

#include <QtTest>

using namespace kirt;

class TestChecksum : public QObject
{
    Q_OBJECT

private slots:
    void tableEntries_data();
    void tableEntries();
    void tablesAreSixteenBit();
    void captions_data();
    void captions();
    void substitution_data();
    void substitution();
    void selectionData_data();
    void selectionData();
    void buttonsWithoutCheck();
    void appendText_data();
    void appendText();
};

Q_DECLARE_METATYPE(const CrcTable*)

void TestChecksum::tableEntries_data()
{
    kirt::test::columns<const CrcTable*, QList<quint32>, quint32>({"table", "head", "last"});

    // The leading and final entries of the published CRC-16 and CRC-CCITT tables.
    kirt::test::row("A reflected 8005h", &CrcTableA, QList<quint32>{0x0000, 0xC0C1, 0xC181, 0x0140},
                    quint32{0x4040});
    kirt::test::row("B MSB-first 1021h", &CrcTableB, QList<quint32>{0x0000, 0x1021, 0x2042, 0x3063},
                    quint32{0x1EF0});
    kirt::test::row("C reflected 1021h", &CrcTableC, QList<quint32>{0x0000, 0x1189, 0x2312, 0x329B},
                    quint32{0x0F78});
}

void TestChecksum::tableEntries()
{
    QFETCH(const CrcTable*, table);
    QFETCH(QList<quint32>, head);
    QFETCH(quint32, last);

    for (qsizetype i = 0; i < head.size(); ++i)
        QCOMPARE((*table)[static_cast<std::size_t>(i)], head[i]);
    QCOMPARE(table->back(), last);
}

void TestChecksum::tablesAreSixteenBit()
{
    for (const CrcTable* table : {&CrcTableA, &CrcTableB, &CrcTableC}) {
        for (std::uint32_t entry : *table)
            QVERIFY2(entry <= 0xFFFFU, qPrintable(QString::number(entry, 16)));
    }
}

void TestChecksum::captions_data()
{
    kirt::test::columns<int, QString, int, QString, int>(
        {"kind", "selection", "format", "checksum", "bytes"});

    const QString check = QStringLiteral("123456789");
    const int asc = static_cast<int>(DataFormat::Asc);
    const int hex = static_cast<int>(DataFormat::Hex);

    // The published check values of each algorithm.
    QTest::newRow("check XOR") << 1 << check << asc << "31H" << 9;
    QTest::newRow("check ADD") << 2 << check << asc << "01DDH" << 9;
    QTest::newRow("check CRC-16/ARC") << 5 << check << asc << "BB3DH" << 9;
    QTest::newRow("check CRC-16/MODBUS") << 6 << check << asc << "4B37H" << 9;
    QTest::newRow("check CRC-16/XMODEM") << 7 << check << asc << "31C3H" << 9;
    QTest::newRow("check CRC-16/X-25") << 8 << check << asc << "906EH" << 9;

    // A Modbus read request with its well-known frame check.
    QTest::newRow("modbus request") << 6 << "010300000001" << hex << "0A84H" << 6;

    // The sum keeps counting past 16 bits and is only cut when shown: 300 * FFh = 12AD4h.
    QTest::newRow("ADD 300 x FF HEX") << 2 << QString(600, u'F') << hex << "2AD4H" << 300;
    QTest::newRow("ADD 300 x FF ASC") << 2 << QString(300, QChar(0xFF)) << asc << "2AD4H" << 300;

    // A single HEX digit makes no byte: each check shows its start value after its final step.
    const QString one = QStringLiteral("A");
    QTest::newRow("one digit XOR") << 1 << one << hex << "00H" << 0;
    QTest::newRow("one digit ADD") << 2 << one << hex << "0000H" << 0;
    QTest::newRow("one digit CRC-16") << 5 << one << hex << "0000H" << 0;
    QTest::newRow("one digit Modbus") << 6 << one << hex << "FFFFH" << 0;
    QTest::newRow("one digit XModem") << 7 << one << hex << "0000H" << 0;
    QTest::newRow("one digit HDLC") << 8 << one << hex << "0000H" << 0;

    // CRC-16 and Modbus never show 02h or 03h: 03C0h, 0280h, 027Fh and 03D5h are remapped.
    QTest::newRow("CRC-16 of 05") << 5 << "05" << hex << "23C0H" << 1;
    QTest::newRow("CRC-16 of 06") << 5 << "06" << hex << "2280H" << 1;
    QTest::newRow("Modbus of F9") << 6 << "F9" << hex << "227FH" << 1;
    QTest::newRow("CRC-16 of ASC 3E") << 5 << "3E" << asc << "23D5H" << 2;

    // The other kinds show 02h and 03h as they are.
    QTest::newRow("XOR of 03") << 1 << "03" << hex << "03H" << 1;
    QTest::newRow("ADD of 01 02") << 2 << "0102" << hex << "0003H" << 2;
    QTest::newRow("ADD to 0203h") << 2 << "FFFF05" << hex << "0203H" << 3;
}

void TestChecksum::captions()
{
    QFETCH(int, kind);
    QFETCH(QString, selection);
    QFETCH(int, format);
    QFETCH(QString, checksum);
    QFETCH(int, bytes);

    const auto result = ComputeChecksum(kind, selection, dataFormatFromIndex(format));
    QVERIFY(result.has_value());
    QCOMPARE(result->length, QString::number(bytes) + QStringLiteral(" BYTE"));
    QCOMPARE(result->checksum, checksum);
}

void TestChecksum::substitution_data()
{
    kirt::test::columns<quint16, quint16>({"crc", "shown"});

    QTest::newRow("both bytes") << quint16{0x0203} << quint16{0x2223};
    QTest::newRow("both bytes swapped") << quint16{0x0302} << quint16{0x2322};
    QTest::newRow("high only") << quint16{0x02FF} << quint16{0x22FF};
    QTest::newRow("low only") << quint16{0x1203} << quint16{0x1223};
    QTest::newRow("already 22h stays") << quint16{0x2222} << quint16{0x2222};
    QTest::newRow("neighbours untouched") << quint16{0x0104} << quint16{0x0104};
    QTest::newRow("nibbles are not bytes") << quint16{0x2030} << quint16{0x2030};
    QTest::newRow("zero") << quint16{0x0000} << quint16{0x0000};
}

void TestChecksum::substitution()
{
    QFETCH(quint16, crc);
    QFETCH(quint16, shown);
    QCOMPARE(substituteControlBytes(crc), shown);
}

void TestChecksum::selectionData_data()
{
    kirt::test::columns<QString, int, QByteArray>({"selection", "format", "bytes"});

    const int asc = static_cast<int>(DataFormat::Asc);
    const int hex = static_cast<int>(DataFormat::Hex);

    // The middle of "A1B2C3": pairs start at the first selected character, not at the line's.
    kirt::test::row("middle of A1B2C3", QStringLiteral("A1B2C3").mid(1, 4), hex,
                    QByteArray("\x1B\x2C"));
    kirt::test::row("odd last digit ignored", "A1B", hex, QByteArray("\xA1"));
    kirt::test::row("lower case digits", "ff0a", hex, QByteArray("\xFF\x0A"));
    kirt::test::row("empty", "", hex, QByteArray());
    kirt::test::row("ASC own bytes", QStringLiteral("a1 ") + QChar(0xE9), asc,
                    QByteArray("a1 \xE9"));
}

void TestChecksum::selectionData()
{
    QFETCH(QString, selection);
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    QCOMPARE(checksumData(selection, dataFormatFromIndex(format)), bytes);
}

void TestChecksum::buttonsWithoutCheck()
{
    for (int button : {0, 3, 4, 9, -1})
        QVERIFY2(!ComputeChecksum(button, QStringLiteral("123456789"), DataFormat::Asc),
                 qPrintable(QString::number(button)));
}

void TestChecksum::appendText_data()
{
    kirt::test::columns<int, int, int>({"kind", "value", "format"});
    QTest::addColumn<QString>("text"); // "-" for nothing
    const int hex = static_cast<int>(DataFormat::Hex);
    const int asc = static_cast<int>(DataFormat::Asc);
    // A Modbus frame check goes low byte first: CDC5h is sent C5 CD.
    QTest::newRow("Modbus HEX") << 6 << 0xCDC5 << hex << "C5CD";
    QTest::newRow("Modbus ASC") << 6 << 0x4142 << asc << "BA";
    QTest::newRow("CRC-16 HEX") << 5 << 0xBB3D << hex << "BB3D";
    QTest::newRow("XModem HEX") << 7 << 0x31C3 << hex << "31C3";
    QTest::newRow("HDLC ASC") << 8 << 0x4142 << asc << "AB";
    QTest::newRow("ADD HEX") << 2 << 0x01DD << hex << "01DD";
    QTest::newRow("XOR HEX") << 1 << 0x0031 << hex << "31";
    QTest::newRow("XOR ASC") << 1 << 0x00E9 << asc << "\u00e9";
    QTest::newRow("ASC zero") << 7 << 0x0041 << asc << "-";
    QTest::newRow("ASC LF") << 1 << 0x000A << asc << "-";
    QTest::newRow("ASC CR") << 6 << 0x0D41 << asc << "-";
    QTest::newRow("HEX zero") << 2 << 0x0000 << hex << "0000";
}

void TestChecksum::appendText()
{
    QFETCH(int, kind);
    QFETCH(int, value);
    QFETCH(int, format);
    QFETCH(QString, text);
    const auto appended =
        checkAppendText(static_cast<CheckKind>(kind), static_cast<std::uint16_t>(value),
                        dataFormatFromIndex(format));
    QCOMPARE(appended.value_or(QStringLiteral("-")), text);
}

QTEST_APPLESS_MAIN(TestChecksum)
#include "tst_checksum.moc"
