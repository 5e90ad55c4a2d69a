// Text files: line splitting, the CR LF form written by Save, default extensions, reading a
// text row by row, and the tick sequence of a file transmit.
#include "tests/support/columns.h"
#include "transmit/textfile.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <random>

using namespace kirt;

namespace {

std::unique_ptr<QIODevice> textDevice(const QByteArray& bytes)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

std::unique_ptr<QIODevice> textDevice(const QString& text)
{
    return textDevice(text.toLatin1());
}

// What a transmit sends, worked out from the whole text at once.
QByteArrayList expectedRows(const QByteArray& bytes, int width)
{
    QByteArrayList rows;
    for (const QString& line : SplitTextLines(QString::fromLatin1(bytes))) {
        const QByteArray l = line.toLatin1();
        if (l.size() <= width)
            rows << l;
        else
            for (qsizetype from = 0; from < l.size(); from += width)
                rows << l.mid(from, width);
    }
    return rows;
}

// Texts built from few symbols, so breaks meet each other, chunk edges and piece edges often.
QByteArray randomText(std::mt19937& random, int width)
{
    static const QByteArrayList symbols = {"\r",   "\n",  "\r\n", "a", "b", QByteArray(1, '\0'),
                                           "\xff", "\n\r"};
    std::uniform_int_distribution<int> length(0, 6 * width);
    std::uniform_int_distribution<int> pick(0, 2 * int(symbols.size()));
    QByteArray text;
    const int n = length(random);
    for (int i = 0; i < n; ++i) {
        const int k = pick(random);
        // Half the picks are plain letters, so lines grow past the width too.
        text += k < symbols.size() ? symbols[k] : QByteArray("x");
    }
    return text;
}

QByteArrayList allTicks(FileTransmit& transmit)
{
    QByteArrayList ticks;
    do
        ticks << transmit.currentTick();
    while (transmit.advance());
    return ticks;
}

} // namespace

class TestTextFile : public QObject
{
    Q_OBJECT

private slots:
    void splitLines_data();
    void splitLines();
    void savedBytes();
    void defaultSuffix_data();
    void defaultSuffix();
    void rowsMatchTheWholeText();
    void failedReads();
    void transmitTicks();
    void longLinesGoInPieces();
    void transmitReadsTheFileAsItGoes();
};

void TestTextFile::splitLines_data()
{
    kirt::test::columns<QString, QStringList>({"text", "lines"});
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
    kirt::test::columns<QString, QString>({"typed", "written"});
    kirt::test::row("bare name", "/tmp/log1", "/tmp/log1.HEX");
    kirt::test::row("own extension kept", "/tmp/log1.txt", "/tmp/log1.txt");
    kirt::test::row("a dot in a folder is no extension", "/tmp/a.b/log", "/tmp/a.b/log.HEX");
    kirt::test::row("relative", "log", "log.HEX");
}

void TestTextFile::defaultSuffix()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QCOMPARE(WithDefaultSuffix(typed, QStringLiteral("HEX")), written);
}

void TestTextFile::rowsMatchTheWholeText()
{
    // Read a chunk at a time, the rows are those of the whole text split at once, whatever
    // the chunk size and wherever a CR LF pair or a piece ends.
    std::mt19937 random(4711);
    for (const int width : {1, 3, 7, FileTransmit::MaxLineLength}) {
        for (int round = 0; round < 150; ++round) {
            const QByteArray text = randomText(random, width);
            const QByteArrayList expected = expectedRows(text, width);
            for (const qsizetype chunk : {1, 2, 5, 64 * 1024}) {
                QBuffer buffer;
                buffer.setData(text);
                buffer.open(QIODevice::ReadOnly);
                TextRowReader reader(buffer, width, chunk);
                QByteArrayList rows;
                QByteArray row;
                while (reader.next(&row))
                    rows << row;
                QVERIFY(!reader.failed());
                if (rows != expected)
                    QFAIL(qPrintable(QStringLiteral("width %1 chunk %2 text %3")
                                         .arg(width)
                                         .arg(chunk)
                                         .arg(QString::fromLatin1(text.toHex(' ')))));
            }
            QBuffer buffer;
            buffer.setData(text);
            buffer.open(QIODevice::ReadOnly);
            QCOMPARE(CountTextRows(buffer, width), std::optional<qint64>(expected.size()));
        }
    }
}

void TestTextFile::failedReads()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("unreadable"));
    auto unreadable = std::make_unique<QFile>(path);
    QVERIFY(unreadable->open(QIODevice::WriteOnly));
    QVERIFY(unreadable->write("A\n") == 2);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("WriteOnly device")));
    QCOMPARE(CountTextRows(*unreadable, FileTransmit::MaxLineLength), std::nullopt);

    // A file that cannot be read is not started, nor one that cannot go back to its start
    // once its lines are counted; the running transmit goes on.
    FileTransmit transmit;
    QVERIFY(transmit.start(textDevice(QByteArray("A\nB\n"))));
    QVERIFY(transmit.advance());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("WriteOnly device")));
    QVERIFY(!transmit.start(std::move(unreadable)));
    QVERIFY(!transmit.errorString().isEmpty());
    auto device = std::make_unique<QFile>(QStringLiteral("/dev/null"));
    QVERIFY(device->open(QIODevice::ReadOnly));
    QVERIFY(!transmit.start(std::move(device)));
    QCOMPARE(transmit.currentTick(), QByteArray("B\r\n"));
    QCOMPARE(transmit.lineCount(), 2);
}

void TestTextFile::transmitTicks()
{
    FileTransmit transmit;
    QVERIFY(!transmit.active());
    QVERIFY(transmit.start(textDevice(QStringLiteral("AB\r\nCD\r\n"))));
    QCOMPARE(transmit.lineCount(), 2);
    QByteArrayList ticks;
    QList<qint64> indexes;
    do {
        indexes << transmit.lineIndex();
        ticks << transmit.currentTick();
    } while (transmit.advance());
    // N lines take N + 1 ticks; the last sends CR LF alone.
    QCOMPARE(ticks, (QByteArrayList{"AB\r\n", "CD\r\n", "\r\n"}));
    QCOMPARE(indexes, (QList<qint64>{0, 1, 2}));
    QVERIFY(!transmit.active());
    QVERIFY(!transmit.advance());

    QVERIFY(transmit.start(textDevice(QByteArray())));
    QCOMPARE(transmit.currentTick(), QByteArray("\r\n"));
    QVERIFY(!transmit.advance());

    // A new start replaces a transmit midway.
    QVERIFY(transmit.start(textDevice(QStringLiteral("1\n2\n3"))));
    transmit.advance();
    QVERIFY(transmit.start(textDevice(QStringLiteral("x"))));
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
    QVERIFY(transmit.start(textDevice(exact + u'\n' + longer + QStringLiteral("\n\nz"))));
    QCOMPARE(transmit.lineCount(), 6);
    QCOMPARE(allTicks(transmit),
             (QByteArrayList{exact.toLatin1() + "\r\n", QByteArray(max, 'a') + "\r\n",
                             QByteArray(max, 'a') + "\r\n", "b\r\n", "\r\n", "z\r\n", "\r\n"}));
}

void TestTextFile::transmitReadsTheFileAsItGoes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines.txt"));
    const auto write = [&](const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    };
    QByteArray text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + QByteArray::number(i) + (i % 3 ? "\r\n" : "\n");
    QByteArray changed = text;
    changed.replace("line", "LINE");
    // Sends the text, with `change` run once 1000 lines have gone; returns every tick.
    const auto send = [&](const std::function<void(FileTransmit&)>& change) {
        write(text);
        auto file = std::make_unique<QFile>(path);
        file->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        FileTransmit transmit;
        QByteArrayList ticks;
        if (!transmit.start(std::move(file)) || transmit.lineCount() != 3000)
            return ticks;
        while (transmit.lineIndex() < 1000) {
            ticks << transmit.currentTick();
            transmit.advance();
        }
        change(transmit);
        ticks += allTicks(transmit);
        return ticks;
    };
    const auto sent = [](const QByteArray& bytes) {
        QByteArrayList ticks;
        for (const QByteArray& row : expectedRows(bytes, FileTransmit::MaxLineLength))
            ticks << row + "\r\n";
        return ticks;
    };

    // Changed under it, past the chunk it holds the change is what goes out.
    QByteArrayList ticks = send([&](FileTransmit&) { write(changed); });
    QCOMPARE(ticks.size(), 3001);
    QCOMPARE(ticks[1000], sent(text)[1000]);
    QCOMPARE(ticks[2999], sent(changed)[2999]);
    // With its own copy made first, the file goes out as it was.
    ticks = send([&](FileTransmit& t) {
        QVERIFY(t.keepContent());
        write(changed);
    });
    QCOMPARE(ticks, sent(text) << "\r\n");
    // Cut short, it sends what it holds, then the closing CR LF, and ends.
    ticks = send([&](FileTransmit&) { QVERIFY(QFile::resize(path, text.indexOf("line 1001"))); });
    // (The chunk may end inside a line: that line goes out as far as it was read.)
    const qsizetype n = ticks.size();
    QVERIFY(n > 1001 && n < 3001);
    QCOMPARE(ticks.mid(0, n - 2), sent(text).mid(0, n - 2));
    QVERIFY(sent(text)[n - 2].startsWith(ticks[n - 2].chopped(2)));
    QCOMPARE(ticks.constLast(), QByteArray("\r\n"));
    // Grown, it sends the lines it counted and then the closing CR LF.
    ticks = send([&](FileTransmit&) { write(text + text); });
    QCOMPARE(ticks, sent(text) << "\r\n");
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
