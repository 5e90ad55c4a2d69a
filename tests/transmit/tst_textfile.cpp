// Text files: line splitting, the CR LF form written by Save, default extensions and the
// tick sequence of a file transmit.
#include "transmit/textfile.h"

#include <QtTest>

using namespace kirt;

class TestTextFile : public QObject
{
    Q_OBJECT

private slots:
    void splitLines_data();
    void splitLines();
    void savedBytes();
    void defaultSuffix_data();
    void defaultSuffix();
    void transmitTicks();
    void longLinesGoInPieces();
};

void TestTextFile::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("one break is one empty line") << "\r\n" << QStringList{""};
    QTest::newRow("CR LF") << "AB\r\nCD\r\n" << QStringList{"AB", "CD"};
    QTest::newRow("no final break") << "AB\r\nCD" << QStringList{"AB", "CD"};
    QTest::newRow("lone LF and lone CR") << "a\nb\rc" << QStringList{"a", "b", "c"};
    QTest::newRow("LF CR is two breaks") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("blank lines kept") << "a\r\n\r\n\r\nb\r\n" << QStringList{"a", "", "", "b"};
}

void TestTextFile::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitTextLines(text), lines);
}

void TestTextFile::savedBytes()
{
    QCOMPARE(TextFileBytes(QString()), QByteArray());
    QCOMPARE(TextFileBytes(QStringLiteral("a\nb")), QByteArray("a\r\nb\r\n"));
    QCOMPARE(TextFileBytes(QStringLiteral("a\n\n")), QByteArray("a\r\n\r\n"));
    // Every character below 256 is one byte of the file.
    QString all;
    QByteArray expected;
    for (int c = 0; c < 256; ++c) {
        if (c == '\r' || c == '\n')
            continue;
        all += QChar(c);
        expected += char(c);
    }
    QCOMPARE(TextFileBytes(all), expected + "\r\n");
}

void TestTextFile::defaultSuffix_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("bare name") << "/tmp/log1"
                               << "/tmp/log1.HEX";
    QTest::newRow("own extension kept") << "/tmp/log1.txt"
                                        << "/tmp/log1.txt";
    QTest::newRow("a dot in a folder is no extension") << "/tmp/a.b/log"
                                                       << "/tmp/a.b/log.HEX";
    QTest::newRow("relative") << "log"
                              << "log.HEX";
}

void TestTextFile::defaultSuffix()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QCOMPARE(WithDefaultSuffix(typed, QStringLiteral("HEX")), written);
}

void TestTextFile::transmitTicks()
{
    FileTransmit transmit;
    QVERIFY(!transmit.active());
    transmit.start(QStringLiteral("AB\r\nCD\r\n"));
    QCOMPARE(transmit.lineCount(), 2);
    QByteArrayList ticks;
    QList<int> indexes;
    do {
        indexes << transmit.lineIndex();
        ticks << transmit.currentTick();
    } while (transmit.advance());
    // N lines take N + 1 ticks; the last sends CR LF alone.
    QCOMPARE(ticks, (QByteArrayList{"AB\r\n", "CD\r\n", "\r\n"}));
    QCOMPARE(indexes, (QList<int>{0, 1, 2}));
    QVERIFY(!transmit.active());
    QVERIFY(!transmit.advance());

    transmit.start(QString());
    QCOMPARE(transmit.currentTick(), QByteArray("\r\n"));
    QVERIFY(!transmit.advance());

    // A new start replaces a transmit midway.
    transmit.start(QStringLiteral("1\n2\n3"));
    transmit.advance();
    transmit.start(QStringLiteral("x"));
    QCOMPARE(transmit.lineIndex(), 0);
    QCOMPARE(transmit.currentTick(), QByteArray("x\r\n"));
    transmit.clear();
    QVERIFY(!transmit.active());
    QCOMPARE(transmit.lineCount(), 0);
}

void TestTextFile::longLinesGoInPieces()
{
    const int max = FileTransmit::MaxLineLength;
    QCOMPARE(max, 198);
    FileTransmit transmit;
    const QString exact(max, u'e');
    const QString longer = QString(2 * max, u'a') + u'b';
    transmit.start(exact + u'\n' + longer + QStringLiteral("\n\nz"));
    QCOMPARE(transmit.lineCount(), 6);
    QByteArrayList ticks;
    do
        ticks << transmit.currentTick();
    while (transmit.advance());
    QCOMPARE(ticks,
             (QByteArrayList{exact.toLatin1() + "\r\n", QByteArray(max, 'a') + "\r\n",
                             QByteArray(max, 'a') + "\r\n", "b\r\n", "\r\n", "z\r\n", "\r\n"}));
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
