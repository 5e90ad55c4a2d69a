// Files of any size and content through "Open": loading keeps only what the display keeps,
// sending reads the file a line at a time, and neither changes what is shown or sent.
#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "transmit/textfile.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <random>

#include <sys/stat.h>

using kirt::PtyDevice;
using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

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

Shown shownBy(const kirt::ReceiveDisplay* display)
{
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

struct Fixture
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    QTemporaryDir dir;
    TFmain window;
    kirt::ReceiveDisplay* display = nullptr;
    QWidget* downloadPanel = nullptr;
    QProgressBar* gauge = nullptr;

    explicit Fixture(int format = 1)
    {
        display = find<kirt::ReceiveDisplay>(&window, "mMessage");
        downloadPanel = find<QWidget>(&window, "DownloadPanel");
        gauge = find<QProgressBar>(&window, "DownloadCGauge");
        choose(&window, "DisplayFormatComboBox", format);
        window.show();
    }
    QString fileWith(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath(name);
        if (!writeAll(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // Opens the file with the port closed: it goes into the display.
    void load(const QString& path)
    {
        answers.paths.push_back(path);
        window.FileOpenClick();
    }
    void startSending(const QString& path)
    {
        answers.paths.push_back(path);
        answers.answers.push_back(true);
        window.FileOpenClick();
    }
};

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
    Fixture f;
    if (lineLimitIndex >= 0) {
        choose(&f.window, "ScrollBarComboBox", 1);
        choose(&f.window, "LineLimitComboBox", lineLimitIndex);
    }
    if (windowWidth > 0) {
        const int before = f.display->columns();
        f.window.resize(windowWidth, f.window.height());
        QVERIFY(PtyDevice::waitUntil([&] { return f.display->columns() != before; }));
    }
    const int columns = f.display->columns();
    const std::uint32_t limit = f.window.displayLineLimit();
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
        const auto watch =
            QObject::connect(f.display->document(), &QTextDocument::blockCountChanged,
                             [&](int n) { mostBlocks = std::max(mostBlocks, n); });
        f.load(path);
        QObject::disconnect(watch);
        QVERIFY2(f.answers.errors.isEmpty(), qPrintable(name));
        QVERIFY2(mostBlocks <= int(limit) + 1,
                 qPrintable(name + QStringLiteral(": %1 blocks").arg(mostBlocks)));
        const Shown loaded = shownBy(f.display);
        // After the load the display goes on as it would have: a CR at the end still
        // swallows an LF that follows it.
        f.display->appendData(QStringLiteral("\nnext"));
        const Shown continued = shownBy(f.display);

        // The same file loaded whole and cut to the line limit, on the same display.
        f.display->setDisplayText(QString::fromLatin1(bytes));
        f.window.TrimDisplayLines();
        const Shown whole = shownBy(f.display);
        QVERIFY2(loaded == whole, qPrintable(name));
        f.display->appendData(QStringLiteral("\nnext"));
        QVERIFY2(continued == shownBy(f.display), qPrintable(name));
    }
}

void TestBigFiles::oddFilesAreSent_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("content");
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
    Fixture f(format);
    f.window.COM_BitBtnClick();
    QVERIFY(f.window.portOpen());
    f.startSending(f.fileWith(QStringLiteral("odd.bin"), content));
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 20000));
    QVERIFY(f.answers.errors.isEmpty());
    const QByteArray wire = expectedWire(content);
    QCOMPARE(f.device.receive(int(wire.size()) + 1, 500), wire);
    QCOMPARE(f.gauge->maximum(), int(wire.count("\r\n")) - 1);
    QCOMPARE(f.gauge->value(), f.gauge->maximum());

    // The echo is what went out: in HEX every byte, in ASC every byte but zero.
    const Shown echoed = shownBy(f.display);
    QString expected;
    for (const char b : wire) {
        if (format == 0)
            expected += QStringLiteral("%1 ").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper();
        else if (b != 0)
            expected += QChar(quint8(b));
    }
    f.display->clearDisplay();
    f.display->appendData(expected);
    f.window.TrimDisplayLines();
    QVERIFY(echoed == shownBy(f.display));
}

void TestBigFiles::longLineTransmitStartsWithoutHoldingTheLine()
{
    Fixture f(1);
    f.window.COM_BitBtnClick();
    QVERIFY(f.window.portOpen());
    const QByteArray line = QByteArray(1 << 20, 'q') + "\r\n";
    const QString path = f.fileWith(QStringLiteral("line.txt"), line);
    f.startSending(path);
    QVERIFY(!f.downloadPanel->isHidden());
    const int pieces = ((1 << 20) + 197) / 198;
    QCOMPARE(f.gauge->maximum(), pieces);
    const QByteArray piece = QByteArray(198, 'q') + "\r\n";
    QCOMPARE(f.device.receive(3 * 200, 3000).left(3 * 200), piece + piece + piece);
    // The window is served between ticks, and the display keeps its rows only.
    bool served = false;
    QTimer::singleShot(0, &f.window, [&] { served = true; });
    QVERIFY(PtyDevice::waitUntil([&] { return served; }, 200));
    QVERIFY(f.display->rowCount() <= f.window.displayLineLimit());

    // The port closes: the transmit ends at the next tick.
    f.window.COM_BitBtnClick();
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 1000));
    QVERIFY(f.gauge->value() < pieces);
}

void TestBigFiles::fileChangesUnderARunningTransmit()
{
    Fixture f(1);
    f.window.COM_BitBtnClick();
    QVERIFY(f.window.portOpen());
    QByteArray text;
    for (int i = 0; i < 120; ++i)
        text += "sent " + QByteArray::number(i).rightJustified(3, '0') + QByteArray(90, '-') + "\n";
    const QString path = f.fileWith(QStringLiteral("sent.txt"), text);
    const auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto sendUntil = [&](const char* shown) {
        f.startSending(path);
        return PtyDevice::waitUntil([&] { return f.display->displayText().contains(shown); });
    };

    // Save writes the display into the file being sent, and an Open that fails leaves the
    // transmit alone: it still sends the file as it was.
    QVERIFY(sendUntil("sent 003"));
    f.window.FileSaveClick();
    QVERIFY(contents() != text);
    f.startSending(f.dir.filePath(QStringLiteral("missing")));
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 8000));
    QCOMPARE(f.device.receive(100000, 300), expectedWire(text));

    // So does a real-time log started on it, which empties it.
    QVERIFY(writeAll(path, text));
    QVERIFY(sendUntil("sent 003"));
    f.answers.answers.push_back(true);
    f.answers.paths.push_back(path);
    f.window.RunTimeSave1Click();
    QVERIFY(f.window.realTimeSaveOn());
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 8000));
    QCOMPARE(f.device.receive(100000, 300), expectedWire(text));
    QCOMPARE(contents(), QByteArray());
    f.answers.answers.push_back(true);
    f.window.RunTimeSave1Click();

    // Cut short by someone else: what was read goes out, then the closing CR LF, and the
    // transmit ends with the gauge full.
    QVERIFY(writeAll(path, text));
    QVERIFY(sendUntil("sent 002"));
    QVERIFY(QFile::resize(path, 0));
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 8000));
    const QByteArray wire = f.device.receive(100000, 300);
    QVERIFY(wire.startsWith(expectedWire(text.left(text.indexOf("sent 003"))).chopped(2)));
    QVERIFY(wire.size() < expectedWire(text).size());
    QVERIFY(wire.endsWith("\r\n\r\n"));
    QCOMPARE(f.gauge->value(), 120);
    QVERIFY(!f.window.findChild<QTimer*>(QStringLiteral("FileTransmitTimer"))->isActive());
}

void TestBigFiles::onlyRegularFilesAreOpened()
{
    Fixture f(1);
    f.display->appendData(QStringLiteral("kept"));
    const QString fifo = f.dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A pipe would block the window until a writer came; a device may never end.
    const QStringList paths = {fifo, f.dir.path(), QStringLiteral("/dev/zero")};
    for (const QString& path : paths) {
        f.load(path);
        QCOMPARE(f.display->displayText(), QStringLiteral("kept"));
    }
    f.window.COM_BitBtnClick();
    QVERIFY(f.window.portOpen());
    f.startSending(QStringLiteral("/dev/zero"));
    QVERIFY(f.downloadPanel->isHidden());
    QCOMPARE(f.answers.errors.size(), 4);
    for (qsizetype i = 0; i < 4; ++i) {
        QVERIFY(f.answers.errors[i].startsWith(QStringLiteral("Cannot open file")));
        QCOMPARE(f.answers.details[i], QStringLiteral("Not a regular file"));
    }
}

QTEST_MAIN(TestBigFiles)
#include "tst_bigfiles.moc"
