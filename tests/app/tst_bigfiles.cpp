// Files of any size and content through "Open": loading keeps only what the display keeps,
// sending reads the file a line at a time, and neither changes what is shown or sent.
#include "tests/support/columns.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "transmit/textfile.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QFile>
#include <QProgressBar>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <random>

#include <sys/stat.h>

using kirt::PtyDevice;
using kirt::test::showForTransmit;
using kirt::test::startFileTransmit;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Everything the display shows and keeps: its rows, which of them only wrap, the text that
// Save writes, and the row count that the line limit is measured by.
struct Shown
{
    QStringList rows;
    QList<int> wraps;
    QString text;
    std::uint32_t rowCount = 0;
    bool operator==(const Shown&) const = default;
};

// What the display shows once its collected text is in the document.
Shown shownBy(kirt::ReceiveDisplay* display)
{
    display->flushPending();
    Shown shown;
    for (QTextBlock b = display->document()->begin(); b.isValid(); b = b.next()) {
        shown.rows << b.text();
        shown.wraps << b.userState();
    }
    shown.text = display->displayText();
    shown.rowCount = display->rowCount();
    return shown;
}

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int round = 0; round < 3; ++round)
        for (int c = 0; c < 256; ++c)
            bytes += char(c);
    return bytes;
}

// A file made to meet the edges of the row layout: empty lines, lines of whole multiples of
// the row width, long lines, every kind of break, bytes that are not text, and as many rows
// as the display keeps give or take half.
QByteArray generatedFile(std::mt19937& random, int columns, std::uint32_t limit)
{
    static const QByteArrayList breaks = {"\n", "\r\n", "\r", "\n\r"};
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    QByteArray text;
    const int lines = int(limit / 2) + below(int(limit) + 2);
    for (int i = 0; i < lines; ++i) {
        switch (below(6)) {
        case 0: // empty
            break;
        case 1:
            text += QByteArray(1 + below(columns - 1 > 0 ? columns - 1 : 1), 's');
            break;
        case 2:
            text += QByteArray((1 + below(3)) * columns, 'm');
            break;
        case 3:
            text += QByteArray(columns + 1 + below(3 * columns), 'l');
            break;
        case 4:
            for (int n = below(2 * columns); n > 0; --n)
                text += char(below(256));
            break;
        default:
            text += "line " + QByteArray::number(i);
        }
        if (i + 1 < lines || below(2) == 0)
            text += breaks[below(int(breaks.size()))];
    }
    return text;
}

// What a transmit of the file puts on the wire, worked out from the whole file at once.
QByteArray expectedWire(const QByteArray& file)
{
    QByteArray wire;
    for (const QString& line : kirt::SplitTextLines(QString::fromLatin1(file))) {
        const QByteArray l = line.toLatin1();
        for (qsizetype from = 0; from == 0 || from < l.size();
             from += kirt::FileTransmit::MaxLineLength)
            wire += l.mid(from, kirt::FileTransmit::MaxLineLength) + "\r\n";
    }
    return wire + "\r\n";
}

// Opens the file with the port closed: it goes into the display.
void load(WindowFixture& f, const QString& path)
{
    f.answers.paths.push_back(path);
    f.triggerAction("FileOpen");
}

} // namespace

class TestBigFiles : public QObject
{
    Q_OBJECT

private slots:
    void loadShowsWhatAWholeLoadShows_data();
    void loadShowsWhatAWholeLoadShows();
    void oddFilesAreSent_data();
    void oddFilesAreSent();
    void longLineTransmitStartsWithoutHoldingTheLine();
    void fileChangesUnderARunningTransmit();
    void onlyRegularFilesAreOpened();
};

void TestBigFiles::loadShowsWhatAWholeLoadShows_data()
{
    QTest::addColumn<int>("lineLimitIndex"); // -1: no scroll bar, the default limit
    QTest::addColumn<int>("windowWidth");    // 0: as laid out
    QTest::newRow("default limit") << -1 << 0;
    QTest::newRow("100 rows") << 2 << 0;
    QTest::newRow("5000 rows") << 15 << 0;
    QTest::newRow("wide window") << -1 << 1100;
}

void TestBigFiles::loadShowsWhatAWholeLoadShows()
{
    QFETCH(int, lineLimitIndex);
    QFETCH(int, windowWidth);
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    if (lineLimitIndex >= 0) {
        f.choose("ScrollBarComboBox", 1);
        f.choose("LineLimitComboBox", lineLimitIndex);
    }
    if (windowWidth > 0) {
        const int before = display->columns();
        f.window().resize(windowWidth, f.window().height());
        QVERIFY(PtyDevice::waitUntil([&] { return display->columns() != before; }));
    }
    const int columns = display->columns();
    const std::uint32_t limit = f.window().displayLineLimit();
    QVERIFY(columns > 3);

    QList<std::pair<QString, QByteArray>> files = {
        {QStringLiteral("empty"), QByteArray()},
        {QStringLiteral("one break"), QByteArray("\r\n")},
        {QStringLiteral("only breaks"), QByteArray(int(limit) * 3, '\n')},
        {QStringLiteral("CR only"), QByteArray(int(limit) * 2, '\r')},
        {QStringLiteral("all byte values"), allByteValues()},
        {QStringLiteral("whole rows, no final break"), QByteArray(columns * int(limit + 3), 'w')},
        {QStringLiteral("whole rows and a break"),
         QByteArray(columns * int(limit + 3), 'w') + "\r\n"},
        {QStringLiteral("1 MB single line"), QByteArray(1 << 20, 'L')},
        {QStringLiteral("1 MB line after short ones"),
         "a\r\nb\n\n" + QByteArray((1 << 20) + 5, 'L') + "\n"},
    };
    std::mt19937 random(limit * 131u + std::uint32_t(columns));
    for (int i = 0; i < 30; ++i)
        files.append(
            {QStringLiteral("generated %1").arg(i), generatedFile(random, columns, limit)});

    for (const auto& [name, bytes] : files) {
        const QString path = f.fileWith(QStringLiteral("file"), bytes);
        // Only the rows that stay are ever put into the display (and the empty one after a
        // final break).
        int mostBlocks = 0;
        const auto watch = QObject::connect(display->document(), &QTextDocument::blockCountChanged,
                                            [&](int n) { mostBlocks = std::max(mostBlocks, n); });
        load(f, path);
        QObject::disconnect(watch);
        QVERIFY2(f.answers.errors.isEmpty(), qPrintable(name));
        QVERIFY2(mostBlocks <= int(limit) + 1,
                 qPrintable(name + QStringLiteral(": %1 blocks").arg(mostBlocks)));
        const Shown loaded = shownBy(display);
        // After the load the display goes on as it would have: a CR at the end still
        // swallows an LF that follows it.
        display->appendData(QStringLiteral("\nnext"));
        const Shown continued = shownBy(display);

        // The same file loaded whole and cut to the line limit, on the same display.
        display->setDisplayText(QString::fromLatin1(bytes));
        f.window().TrimDisplayLines();
        const Shown whole = shownBy(display);
        QVERIFY2(loaded == whole, qPrintable(name));
        display->appendData(QStringLiteral("\nnext"));
        QVERIFY2(continued == shownBy(display), qPrintable(name));
    }
}

void TestBigFiles::oddFilesAreSent_data()
{
    kirt::test::columns<int, QByteArray>({"format", "content"});
    QTest::newRow("every byte value, hex") << 0 << allByteValues().left(256);
    QTest::newRow("every byte value, asc") << 1 << allByteValues().left(256);
    QTest::newRow("zero bytes") << 1 << QByteArray(500, '\0');
    QTest::newRow("lone CRs and LF CR") << 1 << QByteArray("a\r\r\rb\n\rc");
    QTest::newRow("empty") << 0 << QByteArray();
}

void TestBigFiles::oddFilesAreSent()
{
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, format);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    auto* const gauge = view.gauge;
    QVERIFY(f.openPort());
    startFileTransmit(f, f.fileWith(QStringLiteral("odd.bin"), content));
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 20000));
    QVERIFY(f.answers.errors.isEmpty());
    const QByteArray wire = expectedWire(content);
    QCOMPARE(f.device().receive(int(wire.size()) + 1, 500), wire);
    QCOMPARE(gauge->maximum(), int(wire.count("\r\n")) - 1);
    QCOMPARE(gauge->value(), gauge->maximum());

    // The echo is what went out: in HEX every byte, in ASC every byte but zero.
    const Shown echoed = shownBy(display);
    QString expected;
    for (const char b : wire) {
        if (format == 0)
            expected += QStringLiteral("%1 ").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper();
        else if (b != 0)
            expected += QChar(quint8(b));
    }
    display->clearDisplay();
    display->appendData(expected);
    f.window().TrimDisplayLines();
    QVERIFY(echoed == shownBy(display));
}

void TestBigFiles::longLineTransmitStartsWithoutHoldingTheLine()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    auto* const gauge = view.gauge;
    QVERIFY(f.openPort());
    const QByteArray line = QByteArray(1 << 20, 'q') + "\r\n";
    const QString path = f.fileWith(QStringLiteral("line.txt"), line);
    startFileTransmit(f, path);
    QVERIFY(!downloadPanel->isHidden());
    const int pieces = ((1 << 20) + 197) / 198;
    QCOMPARE(gauge->maximum(), pieces);
    const QByteArray piece = QByteArray(198, 'q') + "\r\n";
    QCOMPARE(f.device().receive(3 * 200, 3000).left(3 * 200), piece + piece + piece);
    // The window is served between ticks, and the display keeps its rows only.
    bool served = false;
    QTimer::singleShot(0, &f.window(), [&] { served = true; });
    QVERIFY(PtyDevice::waitUntil([&] { return served; }, 200));
    QVERIFY(display->rowCount() <= f.window().displayLineLimit());

    // The port closes: the transmit ends at the next tick.
    f.click("COM_BitBtn");
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 1000));
    QVERIFY(gauge->value() < pieces);
}

void TestBigFiles::fileChangesUnderARunningTransmit()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    auto* const gauge = view.gauge;
    QVERIFY(f.openPort());
    QByteArray text;
    for (int i = 0; i < 120; ++i)
        text += "sent " + QByteArray::number(i).rightJustified(3, '0') + QByteArray(90, '-') + "\n";
    const QString path = f.fileWith(QStringLiteral("sent.txt"), text);
    const auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto sendUntil = [&](const char* shown) {
        startFileTransmit(f, path);
        return PtyDevice::waitUntil([&] { return display->displayText().contains(shown); });
    };

    // Save writes the display into the file being sent, and an Open that fails leaves the
    // transmit alone: it still sends the file as it was.
    QVERIFY(sendUntil("sent 003"));
    f.triggerAction("FileSave");
    QVERIFY(contents() != text);
    startFileTransmit(f, f.file(QStringLiteral("missing")));
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 8000));
    QCOMPARE(f.device().receive(100000, 300), expectedWire(text));

    // So does a real-time log started on it, which empties it.
    QVERIFY(writeAll(path, text));
    QVERIFY(sendUntil("sent 003"));
    QVERIFY(kirt::test::startLog(f, path));
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 8000));
    QCOMPARE(f.device().receive(100000, 300), expectedWire(text));
    QCOMPARE(contents(), QByteArray());
    f.answers.answers.push_back(true);
    f.triggerAction("RunTimeSave1");

    // Cut short by someone else: what was read goes out, then the closing CR LF, and the
    // transmit ends with the gauge full.
    QVERIFY(writeAll(path, text));
    QVERIFY(sendUntil("sent 002"));
    QVERIFY(QFile::resize(path, 0));
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 8000));
    const QByteArray wire = f.device().receive(100000, 300);
    QVERIFY(wire.startsWith(expectedWire(text.left(text.indexOf("sent 003"))).chopped(2)));
    QVERIFY(wire.size() < expectedWire(text).size());
    QVERIFY(wire.endsWith("\r\n\r\n"));
    QCOMPARE(gauge->value(), 120);
    QVERIFY(!f.find<QTimer>("FileTransmitTimer")->isActive());
}

void TestBigFiles::onlyRegularFilesAreOpened()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    display->appendData(QStringLiteral("kept"));
    const QString fifo = f.file(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A pipe would block the window until a writer came; a device may never end.
    const QStringList paths = {fifo, QFileInfo(fifo).path(), QStringLiteral("/dev/zero")};
    for (const QString& path : paths) {
        load(f, path);
        QCOMPARE(display->displayText(), QStringLiteral("kept"));
    }
    QVERIFY(f.openPort());
    startFileTransmit(f, QStringLiteral("/dev/zero"));
    QVERIFY(downloadPanel->isHidden());
    QCOMPARE(f.answers.errors.size(), 4);
    for (qsizetype i = 0; i < 4; ++i) {
        QVERIFY(f.answers.errors[i].startsWith(QStringLiteral("Cannot open file")));
        QCOMPARE(f.answers.details[i], QStringLiteral("Not a regular file"));
    }
}

QTEST_MAIN(TestBigFiles)
#include "tst_bigfiles.moc"
