// Where a file's shown part starts: its last rows as the display lays them out, found by
// reading backwards a chunk at a time.
#include "display/displaytail.h"
#include "tests/support/columns.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <QtTest>

using kirt::DisplayTailStart;

namespace {

std::optional<qint64> tailStart(const QByteArray& text, int columns, std::uint32_t rows,
                                qint64 chunk = 64 * 1024)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return DisplayTailStart(buffer, text.size(), columns, rows, chunk);
}

} // namespace

class TestDisplayTail : public QObject
{
    Q_OBJECT

private slots:
    void startsAtTheLastRows_data();
    void startsAtTheLastRows();
    void longLineCostsOneChunk();
    void failedReads();
    void readsTheTailOfAFile();
};

void TestDisplayTail::startsAtTheLastRows_data()
{
    kirt::test::columns<QByteArray, int, uint, qint64>({"text", "columns", "rows", "start"});

    kirt::test::row("empty", QByteArray(), 4, 3u, qint64(0));
    kirt::test::row("fewer rows than kept", QByteArray("a\nb\n"), 4, 3u, qint64(0));
    kirt::test::row("as many rows as kept", QByteArray("a\nb\nc\n"), 4, 3u, qint64(0));
    kirt::test::row("LF", QByteArray("a\nb\nc\nd\n"), 4, 3u, qint64(2));
    kirt::test::row("no final break", QByteArray("a\nb\nc\nd"), 4, 3u, qint64(2));
    kirt::test::row("CR LF", QByteArray("a\r\nb\r\nc\r\nd\r\n"), 4, 3u, qint64(3));
    kirt::test::row("lone CR", QByteArray("a\rb\rc\rd"), 4, 3u, qint64(2));
    kirt::test::row("LF CR is two breaks", QByteArray("a\n\rb\nc"), 4, 3u, qint64(2));
    kirt::test::row("CR CR LF is two breaks", QByteArray("a\r\r\nb\nc"), 4, 3u, qint64(2));
    kirt::test::row("empty lines are rows", QByteArray("a\n\n\n\n"), 4, 3u, qint64(2));
    kirt::test::row("only breaks", QByteArray("\r\n\r\n\r\n\r\n"), 4, 3u, qint64(2));
    kirt::test::row("a single break", QByteArray("\n"), 4, 1u, qint64(0));
    kirt::test::row("final break after a wrapped line", QByteArray("x\nabcdefghij\n"), 4, 2u,
                    qint64(6));
    // A long line keeps its last rows, counted from its own start.
    kirt::test::row("inside a long line", QByteArray("abcdefghij"), 4, 2u, qint64(4));
    kirt::test::row("last row of a long line", QByteArray("abcdefghij"), 4, 1u, qint64(8));
    kirt::test::row("long line after others", QByteArray("x\r\nyz\r\nabcdefghij"), 4, 2u,
                    qint64(11));
    kirt::test::row("exact multiple of the width", QByteArray("abcdefgh\nx"), 4, 2u, qint64(4));
    kirt::test::row("exact multiple, last", QByteArray("abcdefgh"), 4, 1u, qint64(4));
    kirt::test::row("long line and the line before", QByteArray("pq\nabcdefghij"), 4, 4u,
                    qint64(0));
    kirt::test::row("one column", QByteArray("abc\nd"), 1, 2u, qint64(2));
    kirt::test::row("no rows wanted keeps one", QByteArray("a\nb\nc"), 4, 0u, qint64(4));
    kirt::test::row("bytes that are not text", QByteArray("\x00\xff\x85\n\x01\x0b\x0c\n\x7f", 9), 4,
                    2u, qint64(4));
}

void TestDisplayTail::startsAtTheLastRows()
{
    QFETCH(QByteArray, text);
    QFETCH(int, columns);
    QFETCH(uint, rows);
    QFETCH(qint64, start);
    // The chunk size must not matter, wherever a CR LF pair or a line is cut by it.
    for (const qint64 chunk : {1, 2, 3, 64 * 1024}) {
        QCOMPARE(tailStart(text, columns, rows, chunk), std::optional<qint64>(start));
    }
}

void TestDisplayTail::longLineCostsOneChunk()
{
    // A line of 1 MB without a break, and the same after a break: the start is a wrap
    // point counted from the line's own start, found through many chunks.
    const int columns = 77;
    const QByteArray line(1 << 20, 'L');
    const qint64 lineRows = (line.size() + columns - 1) / columns;
    QCOMPARE(tailStart(line, columns, 27), std::optional<qint64>((lineRows - 27) * columns));
    const QByteArray prefix("head\r\n12345\r\n");
    QCOMPARE(tailStart(prefix + line + "\r\n", columns, 5000, 4096),
             std::optional<qint64>(prefix.size() + (lineRows - 5000) * columns));
    QCOMPARE(tailStart(prefix + line, columns, uint(lineRows) + 1),
             std::optional<qint64>(prefix.size() - 7));
}

void TestDisplayTail::failedReads()
{
    QByteArray text(100000, 'x');
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    // A size beyond the data, as when a file shrinks under the reader.
    QCOMPARE(DisplayTailStart(buffer, text.size() + 10, 80, 27), std::nullopt);
    QBuffer closed;
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::seek (QBuffer): The device is not open");
    QCOMPARE(DisplayTailStart(closed, 10, 80, 27), std::nullopt);
}

void TestDisplayTail::readsTheTailOfAFile()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("one\r\ntwo\r\nthr\xE9\r\n");
    QVERIFY(file.seek(0));
    const kirt::FileResult tail = kirt::ReadDisplayTail(file, 80, 2);
    QVERIFY(tail.ok());
    QCOMPARE(tail.text, QStringLiteral("two\r\nthr\u00E9\r\n"));

    // A file that is not open cannot be read, whatever its size.
    file.close();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("seek.*not open"));
    const kirt::FileResult closed = kirt::ReadDisplayTail(file, 80, 2);
    QCOMPARE(closed.failure, kirt::FileFailure::Read);
    QVERIFY(closed.text.isEmpty());
}

QTEST_GUILESS_MAIN(TestDisplayTail)
#include "tst_displaytail.moc"
