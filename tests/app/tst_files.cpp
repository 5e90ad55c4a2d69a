// Files end to end: sending a text file, open, save, print and the real-time log, with a
// pseudo-terminal playing the device behind COM1.
#include "app/Umain.h"
#include "display/logformat.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/receivedisplay.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A window with COM1 mapped to a fresh pseudo-terminal, a folder for files, and the display
// in the given format (0 HEX, 1 ASC).
struct Fixture
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    QTemporaryDir dir;
    TFmain window;
    kirt::ReceiveDisplay* display = nullptr;
    QWidget* downloadPanel = nullptr;

    explicit Fixture(int format)
    {
        display = find<kirt::ReceiveDisplay>(&window, "mMessage");
        downloadPanel = find<QWidget>(&window, "DownloadPanel");
        choose(&window, "DisplayFormatComboBox", format);
        window.show();
    }
    QString file(const QString& name) const { return dir.filePath(name); }
    QString fileWith(const QString& name, const QByteArray& bytes) const
    {
        writeAll(file(name), bytes);
        return file(name);
    }
    bool open()
    {
        window.COM_BitBtnClick();
        return window.portOpen();
    }
    // Opens path for sending (the port must be open) and waits until the transmit is over.
    bool send(const QString& path, int timeoutMs = 10000)
    {
        answers.paths.push_back(path);
        answers.answers.push_back(true);
        window.FileOpenClick();
        return PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, timeoutMs);
    }
    bool startLog(const QString& path)
    {
        answers.answers.push_back(true);
        answers.paths.push_back(path);
        window.RunTimeSave1Click();
        return window.realTimeSaveOn();
    }
    bool shows(const QString& text)
    {
        return PtyDevice::waitUntil([&] { return display->displayText() == text; });
    }
};

QByteArray lines(int count, char letter)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += QByteArray(1, letter) + QByteArray::number(i) + "\r\n";
    return text;
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void transmitSendsEveryLineThenCrLf_data();
    void transmitSendsEveryLineThenCrLf();
    void transmitHoldsReceivedBytesBack();
    void transmitEndsWhenThePortCloses();
    void newTransmitReplacesTheRunningOne();
    void openLoadsIntoTheDisplay();
    void openFailureAndCancel();
    void saveAndSaveAs();
    void saveFailureKeepsTheName();
    void printInBlackAndRestoreColours();
    void realTimeLogLayouts_data();
    void realTimeLogLayouts();
    void realTimeLogStartAndStop();
    void realTimeLogRefusesFileCommands();
    void failedLogWriteIsReportedOnce_data();
    void failedLogWriteIsReportedOnce();
};

void TestFiles::transmitSendsEveryLineThenCrLf_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("lineCount");
    const QByteArray ab = "AB\r\nCD\r\n\r\n";
    QTest::newRow("hex") << 0 << QByteArray("AB\r\nCD\r\n") << ab
                         << "41 42 0D 0A 43 44 0D 0A 0D 0A " << 2;
    QTest::newRow("asc, no final line break") << 1 << QByteArray("AB\nCD") << ab << "AB\nCD\n\n"
                                              << 2;
    QTest::newRow("empty file: one tick")
        << 0 << QByteArray() << QByteArray("\r\n") << "0D 0A " << 0;
    QTest::newRow("latin-1 bytes pass unchanged")
        << 1 << QByteArray("\xe9\xff\x01") << QByteArray("\xe9\xff\x01\r\n\r\n")
        << "\u00e9\u00ff\u0001\n\n"
        << 1;
    const QByteArray longLine(450, 'L');
    QTest::newRow("a long line goes in pieces of 198")
        << 1 << longLine
        << longLine.left(198) + "\r\n" + longLine.mid(198, 198) + "\r\n" + longLine.mid(396) +
               "\r\n\r\n"
        << QString() << 3;
}

void TestFiles::transmitSendsEveryLineThenCrLf()
{
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, wire);
    QFETCH(QString, shown);
    QFETCH(int, lineCount);
    Fixture f(format);
    QVERIFY(f.open());
    auto* gauge = find<QProgressBar>(&f.window, "DownloadCGauge");
    const QString path = f.fileWith(QStringLiteral("data.txt"), content);
    QVERIFY(f.send(path));
    QCOMPARE(f.answers.questions, QStringList{QStringLiteral("Starting a transmit of file?")});
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - data.txt"));
    QCOMPARE(f.window.currentFileName(), path);
    QCOMPARE(f.device.receive(int(wire.size()) + 1, 500), wire);
    if (!shown.isEmpty())
        QCOMPARE(f.display->displayText(), shown);
    QCOMPARE(gauge->maximum(), lineCount);
    QCOMPARE(gauge->value(), lineCount);
    QVERIFY(!f.window.findChild<QTimer*>(QStringLiteral("FileTransmitTimer"))->isActive());
}

void TestFiles::transmitHoldsReceivedBytesBack()
{
    Fixture f(1);
    QVERIFY(f.open());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("many.txt"), lines(100, 'T')));
    f.answers.answers.push_back(true);
    f.window.FileOpenClick();
    QVERIFY(!f.downloadPanel->isHidden());
    // Starting a log meanwhile leaves the lines being sent alone.
    QVERIFY(f.startLog(f.file(QStringLiteral("log"))));
    QVERIFY(f.device.send("xyz"));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return f.window.rxMemory().backlog() == 3 || f.downloadPanel->isHidden(); }));
    QVERIFY2(!f.downloadPanel->isHidden(), "the transmit ended too soon for this test");
    QVERIFY(!f.display->displayText().contains(u'x'));
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display->displayText().endsWith("xyz"); }));
    QCOMPARE(f.device.receive(int(lines(100, 'T').size()) + 2), lines(100, 'T') + "\r\n");
    // The log took the held-back bytes only, once they were displayed.
    QCOMPARE(readAll(f.file(QStringLiteral("log.HEX"))), QByteArray("x\r\ny\r\nz\r\n"));
}

void TestFiles::transmitEndsWhenThePortCloses()
{
    Fixture f(1);
    QVERIFY(f.open());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("many.txt"), lines(200, 'C')));
    f.answers.answers.push_back(true);
    f.window.FileOpenClick();
    QVERIFY(PtyDevice::waitUntil([&] { return f.display->displayText().contains("C3\n"); }));
    f.window.COM_BitBtnClick();
    QVERIFY(!f.window.portOpen());
    QVERIFY(PtyDevice::waitUntil([&] { return f.downloadPanel->isHidden(); }, 1000));
    const QByteArray wire = f.device.receive(100000, 300);
    QVERIFY(wire.startsWith(lines(3, 'C')));
    QVERIFY(!wire.contains("C199"));
}

void TestFiles::newTransmitReplacesTheRunningOne()
{
    Fixture f(1);
    QVERIFY(f.open());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("a.txt"), lines(200, 'A')));
    f.answers.answers.push_back(true);
    f.window.FileOpenClick();
    QVERIFY(PtyDevice::waitUntil([&] { return f.display->displayText().contains("A2\n"); }));
    QVERIFY(f.send(f.fileWith(QStringLiteral("b.txt"), "B1\r\nB2\r\n")));
    // The first file stops after a whole line; the second follows from its first line.
    const QByteArray wire = f.device.receive(100000, 500);
    QVERIFY(wire.startsWith(lines(3, 'A')));
    QVERIFY(wire.endsWith("\r\nB1\r\nB2\r\n\r\n"));
    QVERIFY(!wire.contains("A199"));
}

void TestFiles::openLoadsIntoTheDisplay()
{
    Fixture f(1);
    const QString path = f.fileWith(QStringLiteral("load.HEX"), "one\r\ntwo\xe9\nthree");
    f.window.OPTION_BitBtnClick();
    f.answers.paths.push_back(path);
    f.answers.openReadOnly = true;
    f.window.FileOpenClick();
    // Port closed: no question, the file goes into the display, the display view in front.
    QVERIFY(f.answers.questions.isEmpty());
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Hex Files(*.HEX)")});
    QCOMPARE(f.answers.filterLists.constFirst(),
             QStringLiteral("Hex Files(*.HEX)|Text Files(*.TXT)|Document Files(*.DOC)|"
                            "All Files(*.*)"));
    QVERIFY(f.answers.readOnlyOffered);
    QCOMPARE(f.display->displayText(), QStringLiteral("one\ntwo\u00e9\nthree"));
    QVERIFY(!f.display->isHidden());
    QVERIFY(f.display->isReadOnly());
    QVERIFY(!f.display->document()->isModified());
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - load.HEX"));

    // With the port open and the answer No, the file is loaded too; the box left unticked
    // makes the display editable again.
    QVERIFY(f.open());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("two.txt"), "second"));
    f.answers.openReadOnly = false;
    f.answers.answers.push_back(false);
    f.window.FileOpenClick();
    QCOMPARE(f.answers.questions.size(), 1);
    QCOMPARE(f.display->displayText(), QStringLiteral("second"));
    QVERIFY(!f.display->isReadOnly());
    QVERIFY(f.downloadPanel->isHidden());
    QCOMPARE(f.device.receive(1, 200), QByteArray());
}

void TestFiles::openFailureAndCancel()
{
    Fixture f(1);
    f.display->appendData(QStringLiteral("kept"));
    f.window.OPTION_BitBtnClick();
    f.window.FileOpenClick(); // cancelled: only the view changed
    QVERIFY(!f.display->isHidden());
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - Untitled"));
    QCOMPARE(f.display->displayText(), QStringLiteral("kept"));

    const QString missing = f.file(QStringLiteral("missing.txt"));
    f.answers.paths.push_back(missing);
    f.window.FileOpenClick();
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY(f.answers.errors.constFirst().contains(missing));
    QVERIFY(!f.answers.details.constFirst().isEmpty());
    QCOMPARE(f.window.currentFileName(), missing);
    QCOMPARE(f.display->displayText(), QStringLiteral("kept"));
}

void TestFiles::saveAndSaveAs()
{
    Fixture f(1);
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - Untitled"));
    f.display->appendData(QString::fromLatin1("first\r\nsecond \xff\x01"));
    // Save right after start-up asks for a name; one typed without extension gets ".HEX".
    f.answers.paths.push_back(f.file(QStringLiteral("log1")));
    f.window.FileSaveClick();
    QCOMPARE(f.answers.fileDialogs, QStringList{QStringLiteral("save")});
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Hex Files(*.HEX)")});
    QCOMPARE(f.answers.suffixes, QStringList{QStringLiteral("HEX")});
    const QString saved = f.file(QStringLiteral("log1.HEX"));
    QCOMPARE(readAll(saved), QByteArray("first\r\nsecond \xff\x01\r\n"));
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - log1.HEX"));
    QCOMPARE(f.window.currentFileName(), saved);

    // Now Save writes that file again, without a dialog; long rows that only wrapped are one
    // line in the file.
    const QString longLine(300, u'w');
    f.display->appendData(QStringLiteral("\n") + longLine);
    QVERIFY(f.display->rowCount() > 3);
    f.window.FileSaveClick();
    QCOMPARE(f.answers.fileDialogs.size(), 1);
    QCOMPARE(readAll(saved),
             QByteArray("first\r\nsecond \xff\x01\r\n") + longLine.toLatin1() + "\r\n");

    // Save As to a name with an extension keeps it; a cancelled dialog changes nothing.
    f.answers.paths.push_back(f.file(QStringLiteral("copy.txt")));
    f.window.FileSaveAsClick();
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - copy.txt"));
    QCOMPARE(readAll(f.file(QStringLiteral("copy.txt"))), readAll(saved));
    f.window.FileSaveAsClick();
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - copy.txt"));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestFiles::saveFailureKeepsTheName()
{
    Fixture f(0);
    f.display->appendData(QStringLiteral("41 "));
    const QString full = f.file(QStringLiteral("full.HEX"));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
    const QStringList targets = {f.file(QStringLiteral("no/such/folder/x.HEX")), full};
    for (const QString& target : targets) {
        f.answers.paths.push_back(target);
        f.window.FileSaveAsClick();
    }
    QCOMPARE(f.answers.errors.size(), 2);
    QVERIFY(f.answers.errors[0].startsWith(QStringLiteral("Cannot create file")));
    QVERIFY(f.answers.errors[1].startsWith(QStringLiteral("Cannot write file")));
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - Untitled"));
}

void TestFiles::printInBlackAndRestoreColours()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftotext.isEmpty() || pdftoppm.isEmpty())
        QSKIP("poppler-utils (pdftotext, pdftoppm) is not installed");
    Fixture f(1);
    choose(&f.window, "ColorComboBox", 1); // white on black
    const QPalette chosen = f.display->palette();
    f.display->appendData(QStringLiteral("Printed line one\r\nline two"));

    f.window.FilePrintClick(); // cancelled
    QCOMPARE(f.answers.printJobNames, QStringList{QStringLiteral("Untitled")});
    QCOMPARE(f.display->palette().color(QPalette::Text), chosen.color(QPalette::Text));

    const QString pdf = f.file(QStringLiteral("out.pdf"));
    f.answers.printFiles.push_back(pdf);
    f.window.FilePrintClick();
    QVERIFY(f.answers.errors.isEmpty());
    QCOMPARE(f.display->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(f.display->palette().color(QPalette::Base), QColor(Qt::black));

    QProcess text;
    text.start(pdftotext, {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(printed.contains(QStringLiteral("Printed line one")), qPrintable(printed));
    QVERIFY(printed.contains(QStringLiteral("line two")));

    // The ink is dark on the white page, whatever the display's colours.
    QProcess render;
    render.start(pdftoppm, {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("72"),
                            QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                            QStringLiteral("1"), pdf});
    QVERIFY(render.waitForFinished(30000));
    QImage page;
    QVERIFY(page.loadFromData(render.readAllStandardOutput(), "PGM"));
    int darkest = 255;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            darkest = std::min(darkest, qGray(page.pixel(x, y)));
    QVERIFY2(darkest < 80, qPrintable(QString::number(darkest)));
}

void TestFiles::realTimeLogLayouts_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("condition");
    QTest::addColumn<int>("timeLog");
    QTest::addColumn<QString>("newLineChar");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("expected"); // a pattern; T stands for a time stamp
    QTest::newRow("hex") << 0 << 0 << 0 << "" << QByteArray("\x41\x0d\x00", 3)
                         << "41 \r\n0D \r\n00 \r\n";
    QTest::newRow("hex, time") << 0 << 0 << 1 << "" << QByteArray("AB") << "41   T\r\n42   T\r\n";
    QTest::newRow("asc") << 1 << 0 << 0 << "" << QByteArray("A\0B", 3) << "A\r\n\r\nB\r\n";
    QTest::newRow("asc, time") << 1 << 0 << 1 << "" << QByteArray("AB") << "A   T\r\nB   T\r\n";
    QTest::newRow("asc, LF") << 1 << 2 << 0 << "" << QByteArray("AB\r\n") << "AB\r\n\r\n";
    QTest::newRow("asc, CR") << 1 << 1 << 0 << "" << QByteArray("A\nB\r") << "A\n\r\nB\r";
    QTest::newRow("asc, CR, time") << 1 << 1 << 1 << "" << QByteArray("A\r\n") << "A   T\r   T\n";
    QTest::newRow("asc, LF, time") << 1 << 2 << 1 << "" << QByteArray("x\ny") << "x   T\ny";
    QTest::newRow("new-line character breaks the row")
        << 1 << 2 << 0 << "3B" << QByteArray("a;b;") << "a\r\n;b\r\n;";
}

void TestFiles::realTimeLogLayouts()
{
    QFETCH(int, format);
    QFETCH(int, condition);
    QFETCH(int, timeLog);
    QFETCH(QString, newLineChar);
    QFETCH(QByteArray, received);
    QFETCH(QString, expected);
    Fixture f(format);
    if (format == 1)
        choose(&f.window, "ConditionComboBox", condition);
    choose(&f.window, "TimeLogComboBox", timeLog);
    find<QLineEdit>(&f.window, "NewLineCharEdit")->setText(newLineChar);
    QVERIFY(f.open());
    QVERIFY(f.startLog(f.file(QStringLiteral("run.XLS"))));
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(f.device.send(received));

    // A short date may hold blanks ("8 Dec 2026"); the stamps are checked one by one below.
    const QString stamp = QStringLiteral("[^\r\n]+");
    QString pattern = QRegularExpression::escape(expected);
    pattern.replace(u'T', stamp);
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    QString log;
    const bool complete = PtyDevice::waitUntil([&] {
        log = QString::fromLatin1(readAll(f.file(QStringLiteral("run.XLS"))));
        return whole.match(log).hasMatch();
    });
    QVERIFY2(complete, qPrintable(log.toLatin1().toHex(' ')));
    const QDateTime after = QDateTime::currentDateTime();
    // Every stamp is the locale's short date and the time of a byte's arrival.
    QStringList possible;
    for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1); t = t.addSecs(1))
        possible << kirt::LogTimeStampText(t);
    const QRegularExpression stamps(QStringLiteral("   ([^\r\n]+)"));
    int count = 0;
    for (const auto& m : stamps.globalMatch(log)) {
        QVERIFY2(possible.contains(m.captured(1)), qPrintable(m.captured(1)));
        ++count;
    }
    QCOMPARE(count, int(expected.count(u'T')));
}

void TestFiles::realTimeLogStartAndStop()
{
    Fixture f(0);
    auto* logItem = find<QAction>(&f.window, "RunTimeSave1");
    logItem->trigger(); // port closed: nothing at all
    QVERIFY(f.answers.questions.isEmpty());
    QVERIFY(f.open());

    // A cancelled question or file dialog leaves the log off.
    logItem->trigger();
    f.answers.answers.push_back(true);
    logItem->trigger();
    QVERIFY(!f.window.realTimeSaveOn());
    QCOMPARE(f.answers.questions, QStringList(2, QStringLiteral("OK to Run Time Save Run ?")));
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Excel Files(*.XLS)")});

    // An existing file is emptied at once and becomes the window's file.
    const QString path = f.fileWith(QStringLiteral("old.XLS"), "old contents");
    QVERIFY(f.startLog(path));
    QCOMPARE(readAll(path), QByteArray());
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - old.XLS"));
    QVERIFY(f.device.send("\x01\x02"));
    QVERIFY(f.shows("01 02 "));

    f.answers.answers.push_back(false); // "Stop?" No: logging goes on
    logItem->trigger();
    QVERIFY(f.window.realTimeSaveOn());
    QCOMPARE(f.answers.questions.constLast(), QStringLiteral("OK to Run Time Save Stop ?"));
    f.answers.answers.push_back(true);
    logItem->trigger();
    QVERIFY(!f.window.realTimeSaveOn());
    QVERIFY(f.device.send("\x03"));
    QVERIFY(f.shows("01 02 03 "));
    QCOMPARE(readAll(path), QByteArray("01 \r\n02 \r\n"));

    // Closing the port stops a running log.
    QVERIFY(f.startLog(path));
    QVERIFY(f.device.send("\x04"));
    QVERIFY(f.shows("01 02 03 04 "));
    f.window.COM_BitBtnClick();
    QVERIFY(!f.window.realTimeSaveOn());
    QVERIFY(find<QAction>(&f.window, "FileOpen")->isVisible());
    QCOMPARE(readAll(path), QByteArray("04 \r\n"));
    const auto asked = f.answers.questions.size();
    logItem->trigger();
    QCOMPARE(f.answers.questions.size(), asked);

    // Save after a log writes the display into the log file.
    f.window.FileSaveClick();
    QCOMPARE(readAll(path), QByteArray("01 02 03 04 \r\n"));
}

void TestFiles::realTimeLogRefusesFileCommands()
{
    Fixture f(1);
    QVERIFY(f.open());
    QVERIFY(f.startLog(f.file(QStringLiteral("log.XLS"))));
    const QStringList items = {QStringLiteral("FileOpen"), QStringLiteral("FileSave"),
                               QStringLiteral("FileSaveAs")};
    for (const QString& name : items)
        QVERIFY(!f.window.findChild<QAction*>(name)->isVisible());
    QVERIFY(find<QAction>(&f.window, "FilePrint")->isVisible());
    const auto dialogs = f.answers.fileDialogs.size();
    f.answers.paths.push_back(f.fileWith(QStringLiteral("other.txt"), "other"));
    f.window.FileOpenClick();
    f.window.FileSaveClick();
    f.window.FileSaveAsClick();
    QCOMPARE(f.answers.fileDialogs.size(), dialogs);
    QCOMPARE(f.window.windowTitle(), QStringLiteral("Kirt - log.XLS"));
    QVERIFY(f.display->isEmpty());
    QCOMPARE(readAll(f.file(QStringLiteral("log.XLS"))), QByteArray());
    f.answers.answers.push_back(true);
    f.window.RunTimeSave1Click();
    for (const QString& name : items)
        QVERIFY(f.window.findChild<QAction*>(name)->isVisible());
}

void TestFiles::failedLogWriteIsReportedOnce_data()
{
    QTest::addColumn<bool>("removeFile");
    QTest::newRow("device full") << false;
    QTest::newRow("file removed") << true;
}

void TestFiles::failedLogWriteIsReportedOnce()
{
    QFETCH(bool, removeFile);
    Fixture f(1);
    QVERIFY(f.open());
    const QString path =
        f.file(removeFile ? QStringLiteral("gone.XLS") : QStringLiteral("full.XLS"));
    if (!removeFile)
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    QVERIFY(f.startLog(path));
    if (removeFile)
        QVERIFY(QFile::remove(path));
    QVERIFY(f.device.send("ABC"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display->displayText() == "ABC"; }));
    QVERIFY(PtyDevice::waitUntil([&] { return !f.answers.errors.isEmpty(); }));
    QVERIFY(!f.window.realTimeSaveOn());
    QVERIFY(f.answers.errors.constFirst().contains(path));
    QVERIFY(!f.answers.details.constFirst().isEmpty());
    // Reception and display go on, and the failure is not reported again.
    QVERIFY(f.device.send("DEF"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display->displayText() == "ABCDEF"; }));
    PtyDevice::serveEvents(50);
    QCOMPARE(f.answers.errors.size(), 1);
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
