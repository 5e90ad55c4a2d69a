// Files end to end: sending a text file, open, save, print and the real-time log, with a
// pseudo-terminal playing the device behind COM1.
#include "display/logformat.h"
#include "tests/support/columns.h"
#include "tests/support/files.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::fileContents;
using kirt::test::showForTransmit;
using kirt::test::startFileTransmit;
using kirt::test::startLog;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

// Opens path for sending (the port must be open) and waits until the transmit is over.
bool send(WindowFixture& f, const QString& path, int timeoutMs = 10000)
{
    startFileTransmit(f, path);
    QWidget* downloadPanel = f.find<QWidget>("DownloadPanel");
    return PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, timeoutMs);
}

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
    void removedLogFileIsWrittenAgain();
};

void TestFiles::transmitSendsEveryLineThenCrLf_data()
{
    kirt::test::columns<int, QByteArray, QByteArray, QString, int>(
        {"format", "content", "wire", "shown", "lineCount"});
    const QByteArray ab = "AB\r\nCD\r\n\r\n";
    kirt::test::row("hex", 0, QByteArray("AB\r\nCD\r\n"), ab, "41 42 0D 0A 43 44 0D 0A 0D 0A ", 2);
    kirt::test::row("asc, no final line break", 1, QByteArray("AB\nCD"), ab, "AB\nCD\n\n", 2);
    kirt::test::row("empty file: one tick", 0, QByteArray(), QByteArray("\r\n"), "0D 0A ", 0);
    kirt::test::row("latin-1 bytes pass unchanged", 1, QByteArray("\xe9\xff\x01"),
                    QByteArray("\xe9\xff\x01\r\n\r\n"), "\u00e9\u00ff\u0001\n\n", 1);
    const QByteArray longLine(450, 'L');
    kirt::test::row("a long line goes in pieces of 198", 1, longLine,
                    longLine.left(198) + "\r\n" + longLine.mid(198, 198) + "\r\n" +
                        longLine.mid(396) + "\r\n\r\n",
                    QString(), 3);
}

void TestFiles::transmitSendsEveryLineThenCrLf()
{
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, wire);
    QFETCH(QString, shown);
    QFETCH(int, lineCount);
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, format);
    auto* const display = view.display;
    auto* const gauge = view.gauge;
    QVERIFY(f.openPort());
    const QString path = f.fileWith(QStringLiteral("data.txt"), content);
    QVERIFY(send(f, path));
    QCOMPARE(f.answers.questions, QStringList{QStringLiteral("Starting a transmit of file?")});
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - data.txt"));
    QCOMPARE(f.window().currentFileName(), path);
    QCOMPARE(f.device().receive(int(wire.size()) + 1, 500), wire);
    if (!shown.isEmpty())
        QCOMPARE(display->displayText(), shown);
    QCOMPARE(gauge->maximum(), lineCount);
    QCOMPARE(gauge->value(), lineCount);
    QVERIFY(!f.find<QTimer>("FileTransmitTimer")->isActive());
}

void TestFiles::transmitHoldsReceivedBytesBack()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    QVERIFY(f.openPort());
    startFileTransmit(f, f.fileWith(QStringLiteral("many.txt"), lines(100, 'T')));
    QVERIFY(!downloadPanel->isHidden());
    // Starting a log meanwhile leaves the lines being sent alone.
    QVERIFY(startLog(f, f.file(QStringLiteral("log"))));
    QVERIFY(f.device().send("xyz"));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return f.window().rxMemory().backlog() == 3 || downloadPanel->isHidden(); }));
    QVERIFY2(!downloadPanel->isHidden(), "the transmit ended too soon for this test");
    QVERIFY(!display->displayText().contains(u'x'));
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().endsWith("xyz"); }));
    QCOMPARE(f.device().receive(int(lines(100, 'T').size()) + 2), lines(100, 'T') + "\r\n");
    // The log took the held-back bytes only, once they were displayed.
    QCOMPARE(fileContents(f.file(QStringLiteral("log.HEX"))), QByteArray("x\r\ny\r\nz\r\n"));
}

void TestFiles::transmitEndsWhenThePortCloses()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    QVERIFY(f.openPort());
    startFileTransmit(f, f.fileWith(QStringLiteral("many.txt"), lines(200, 'C')));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().contains("C3\n"); }));
    f.click("COM_BitBtn");
    QVERIFY(!f.window().portOpen());
    QVERIFY(PtyDevice::waitUntil([&] { return downloadPanel->isHidden(); }, 1000));
    const QByteArray wire = f.device().receive(100000, 300);
    QVERIFY(wire.startsWith(lines(3, 'C')));
    QVERIFY(!wire.contains("C199"));
}

void TestFiles::newTransmitReplacesTheRunningOne()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    startFileTransmit(f, f.fileWith(QStringLiteral("a.txt"), lines(200, 'A')));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().contains("A2\n"); }));
    QVERIFY(send(f, f.fileWith(QStringLiteral("b.txt"), "B1\r\nB2\r\n")));
    // The first file stops after a whole line; the second follows from its first line.
    const QByteArray wire = f.device().receive(100000, 500);
    QVERIFY(wire.startsWith(lines(3, 'A')));
    QVERIFY(wire.endsWith("\r\nB1\r\nB2\r\n\r\n"));
    QVERIFY(!wire.contains("A199"));
}

void TestFiles::openLoadsIntoTheDisplay()
{
    WindowFixture f(Device::Pty);
    const kirt::test::TransmitView view = showForTransmit(f, 1);
    auto* const display = view.display;
    auto* const downloadPanel = view.downloadPanel;
    const QString path = f.fileWith(QStringLiteral("load.HEX"), "one\r\ntwo\xe9\nthree");
    f.click("OPTION_BitBtn");
    f.answers.paths.push_back(path);
    f.answers.openReadOnly = true;
    f.triggerAction("FileOpen");
    // Port closed: no question, the file goes into the display, the display view in front.
    QVERIFY(f.answers.questions.isEmpty());
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Hex Files(*.HEX)")});
    QCOMPARE(f.answers.filterLists.constFirst(),
             QStringLiteral("Hex Files(*.HEX)|Text Files(*.TXT)|Document Files(*.DOC)|"
                            "All Files(*.*)"));
    QVERIFY(f.answers.readOnlyOffered);
    QCOMPARE(display->displayText(), QStringLiteral("one\ntwo\u00e9\nthree"));
    QVERIFY(!display->isHidden());
    QVERIFY(display->isReadOnly());
    QVERIFY(!display->document()->isModified());
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - load.HEX"));

    // With the port open and the answer No, the file is loaded too; the box left unticked
    // makes the display editable again.
    QVERIFY(f.openPort());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("two.txt"), "second"));
    f.answers.openReadOnly = false;
    f.answers.answers.push_back(false);
    f.triggerAction("FileOpen");
    QCOMPARE(f.answers.questions.size(), 1);
    QCOMPARE(display->displayText(), QStringLiteral("second"));
    QVERIFY(!display->isReadOnly());
    QVERIFY(downloadPanel->isHidden());
    QCOMPARE(f.device().receive(1, 200), QByteArray());
}

void TestFiles::openFailureAndCancel()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    display->appendData(QStringLiteral("kept"));
    f.click("OPTION_BitBtn");
    f.triggerAction("FileOpen"); // cancelled: only the view changed
    QVERIFY(!display->isHidden());
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - Untitled"));
    QCOMPARE(display->displayText(), QStringLiteral("kept"));

    const QString missing = f.file(QStringLiteral("missing.txt"));
    f.answers.paths.push_back(missing);
    f.triggerAction("FileOpen");
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY(f.answers.errors.constFirst().contains(missing));
    QVERIFY(!f.answers.details.constFirst().isEmpty());
    QCOMPARE(f.window().currentFileName(), missing);
    QCOMPARE(display->displayText(), QStringLiteral("kept"));
}

void TestFiles::saveAndSaveAs()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - Untitled"));
    display->appendData(QString::fromLatin1("first\r\nsecond \xff\x01"));
    // Save right after start-up asks for a name; one typed without extension gets ".HEX".
    f.answers.paths.push_back(f.file(QStringLiteral("log1")));
    f.triggerAction("FileSave");
    QCOMPARE(f.answers.fileDialogs, QStringList{QStringLiteral("save")});
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Hex Files(*.HEX)")});
    QCOMPARE(f.answers.suffixes, QStringList{QStringLiteral("HEX")});
    const QString saved = f.file(QStringLiteral("log1.HEX"));
    QCOMPARE(fileContents(saved), QByteArray("first\r\nsecond \xff\x01\r\n"));
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - log1.HEX"));
    QCOMPARE(f.window().currentFileName(), saved);

    // Now Save writes that file again, without a dialog; long rows that only wrapped are one
    // line in the file.
    const QString longLine(300, u'w');
    display->appendData(QStringLiteral("\n") + longLine);
    QVERIFY(display->rowCount() > 3);
    f.triggerAction("FileSave");
    QCOMPARE(f.answers.fileDialogs.size(), 1);
    QCOMPARE(fileContents(saved),
             QByteArray("first\r\nsecond \xff\x01\r\n") + longLine.toLatin1() + "\r\n");

    // Save As to a name with an extension keeps it; a cancelled dialog changes nothing.
    f.answers.paths.push_back(f.file(QStringLiteral("copy.txt")));
    f.triggerAction("FileSaveAs");
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - copy.txt"));
    QCOMPARE(fileContents(f.file(QStringLiteral("copy.txt"))), fileContents(saved));
    f.triggerAction("FileSaveAs");
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - copy.txt"));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestFiles::saveFailureKeepsTheName()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    kirt::ReceiveDisplay* display = f.display();
    display->appendData(QStringLiteral("41 "));
    const QString full = f.file(QStringLiteral("full.HEX"));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
    const QStringList targets = {f.file(QStringLiteral("no/such/folder/x.HEX")), full};
    for (const QString& target : targets) {
        f.answers.paths.push_back(target);
        f.triggerAction("FileSaveAs");
    }
    QCOMPARE(f.answers.errors.size(), 2);
    QVERIFY(f.answers.errors[0].startsWith(QStringLiteral("Cannot create file")));
    // A device is never written, not even through a link.
    QVERIFY(f.answers.errors[1].startsWith(QStringLiteral("Cannot create file")));
    QCOMPARE(f.answers.details[1], QStringLiteral("It is a device, not a regular file."));
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - Untitled"));
}

void TestFiles::printInBlackAndRestoreColours()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftotext.isEmpty() || pdftoppm.isEmpty())
        QSKIP("poppler-utils (pdftotext, pdftoppm) is not installed");
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    f.choose("ColorComboBox", 1); // white on black
    const QPalette chosen = display->palette();
    display->appendData(QStringLiteral("Printed line one\r\nline two"));

    f.triggerAction("FilePrint"); // cancelled
    QCOMPARE(f.answers.printJobNames, QStringList{QStringLiteral("Untitled")});
    QCOMPARE(display->palette().color(QPalette::Text), chosen.color(QPalette::Text));

    const QString pdf = f.file(QStringLiteral("out.pdf"));
    f.answers.printFiles.push_back(pdf);
    f.triggerAction("FilePrint");
    QVERIFY(f.answers.errors.isEmpty());
    QCOMPARE(display->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(display->palette().color(QPalette::Base), QColor(Qt::black));

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
    kirt::test::columns<int, int, int, QString, QByteArray>(
        {"format", "condition", "timeLog", "newLineChar", "received"});
    QTest::addColumn<QString>("expected"); // a pattern; T stands for a time stamp
    kirt::test::row("hex", 0, 0, 0, "", QByteArray("\x41\x0d\x00", 3), "41 \r\n0D \r\n00 \r\n");
    kirt::test::row("hex, time", 0, 0, 1, "", QByteArray("AB"), "41   T\r\n42   T\r\n");
    kirt::test::row("asc", 1, 0, 0, "", QByteArray("A\0B", 3), "A\r\n\r\nB\r\n");
    kirt::test::row("asc, time", 1, 0, 1, "", QByteArray("AB"), "A   T\r\nB   T\r\n");
    kirt::test::row("asc, LF", 1, 2, 0, "", QByteArray("AB\r\n"), "AB\r\n\r\n");
    kirt::test::row("asc, CR", 1, 1, 0, "", QByteArray("A\nB\r"), "A\n\r\nB\r");
    kirt::test::row("asc, CR, time", 1, 1, 1, "", QByteArray("A\r\n"), "A   T\r   T\n");
    kirt::test::row("asc, LF, time", 1, 2, 1, "", QByteArray("x\ny"), "x   T\ny");
    kirt::test::row("new-line character breaks the row", 1, 2, 0, "3B", QByteArray("a;b;"),
                    "a\r\n;b\r\n;");
}

void TestFiles::realTimeLogLayouts()
{
    QFETCH(int, format);
    QFETCH(int, condition);
    QFETCH(int, timeLog);
    QFETCH(QString, newLineChar);
    QFETCH(QByteArray, received);
    QFETCH(QString, expected);
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(format);
    if (format == 1)
        f.choose("ConditionComboBox", condition);
    f.choose("TimeLogComboBox", timeLog);
    f.find<QLineEdit>("NewLineCharEdit")->setText(newLineChar);
    QVERIFY(f.openPort());
    QVERIFY(startLog(f, f.file(QStringLiteral("run.XLS"))));
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(f.device().send(received));

    // A short date may hold blanks ("8 Dec 2026"); the stamps are checked one by one below.
    const QString stamp = QStringLiteral("[^\r\n]+");
    QString pattern = QRegularExpression::escape(expected);
    pattern.replace(u'T', stamp);
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    QString log;
    const bool complete = PtyDevice::waitUntil([&] {
        log = QString::fromLatin1(fileContents(f.file(QStringLiteral("run.XLS"))));
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
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(0);
    f.triggerAction("RunTimeSave1"); // port closed: nothing at all
    QVERIFY(f.answers.questions.isEmpty());
    QVERIFY(f.openPort());

    // A cancelled question or file dialog leaves the log off.
    f.triggerAction("RunTimeSave1");
    f.answers.answers.push_back(true);
    f.triggerAction("RunTimeSave1");
    QVERIFY(!f.window().realTimeSaveOn());
    QCOMPARE(f.answers.questions, QStringList(2, QStringLiteral("OK to Run Time Save Run ?")));
    QCOMPARE(f.answers.selectedFilters, QStringList{QStringLiteral("Excel Files(*.XLS)")});

    // An existing file is emptied at once and becomes the window's file.
    const QString path = f.fileWith(QStringLiteral("old.XLS"), "old contents");
    QVERIFY(startLog(f, path));
    QCOMPARE(fileContents(path), QByteArray());
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - old.XLS"));
    QVERIFY(f.device().send("\x01\x02"));
    QVERIFY(f.waitForText("01 02 "));

    f.answers.answers.push_back(false); // "Stop?" No: logging goes on
    f.triggerAction("RunTimeSave1");
    QVERIFY(f.window().realTimeSaveOn());
    QCOMPARE(f.answers.questions.constLast(), QStringLiteral("OK to Run Time Save Stop ?"));
    f.answers.answers.push_back(true);
    f.triggerAction("RunTimeSave1");
    QVERIFY(!f.window().realTimeSaveOn());
    QVERIFY(f.device().send("\x03"));
    QVERIFY(f.waitForText("01 02 03 "));
    QCOMPARE(fileContents(path), QByteArray("01 \r\n02 \r\n"));

    // Closing the port stops a running log.
    QVERIFY(startLog(f, path));
    QVERIFY(f.device().send("\x04"));
    QVERIFY(f.waitForText("01 02 03 04 "));
    f.click("COM_BitBtn");
    QVERIFY(!f.window().realTimeSaveOn());
    QVERIFY(f.find<QAction>("FileOpen")->isVisible());
    QCOMPARE(fileContents(path), QByteArray("04 \r\n"));
    const auto asked = f.answers.questions.size();
    f.triggerAction("RunTimeSave1");
    QCOMPARE(f.answers.questions.size(), asked);

    // Save after a log writes the display into the log file.
    f.triggerAction("FileSave");
    QCOMPARE(fileContents(path), QByteArray("01 02 03 04 \r\n"));
}

void TestFiles::realTimeLogRefusesFileCommands()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    QVERIFY(startLog(f, f.file(QStringLiteral("log.XLS"))));
    const QStringList items = {QStringLiteral("FileOpen"), QStringLiteral("FileSave"),
                               QStringLiteral("FileSaveAs")};
    for (const QString& name : items)
        QVERIFY(!f.find<QAction>(name)->isVisible());
    QVERIFY(f.find<QAction>("FilePrint")->isVisible());
    const auto dialogs = f.answers.fileDialogs.size();
    f.answers.paths.push_back(f.fileWith(QStringLiteral("other.txt"), "other"));
    // Hidden items cannot be picked; triggered all the same, the commands still refuse.
    for (const QString& name : items)
        f.find<QAction>(name)->trigger();
    QCOMPARE(f.answers.fileDialogs.size(), dialogs);
    QCOMPARE(f.window().windowTitle(), QStringLiteral("Kirt - log.XLS"));
    QVERIFY(display->isEmpty());
    QCOMPARE(fileContents(f.file(QStringLiteral("log.XLS"))), QByteArray());
    f.answers.answers.push_back(true);
    f.triggerAction("RunTimeSave1");
    for (const QString& name : items)
        QVERIFY(f.find<QAction>(name)->isVisible());
}

void TestFiles::failedLogWriteIsReportedOnce_data()
{
    QTest::addColumn<bool>("removeFile");
    QTest::newRow("device full") << false;
    // A removed file alone is written again (see removedLogFileIsWrittenAgain); with its
    // folder gone too it cannot be.
    QTest::newRow("file and folder removed") << true;
}

void TestFiles::failedLogWriteIsReportedOnce()
{
    QFETCH(bool, removeFile);
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    QVERIFY(QDir(f.file(QString())).mkdir(QStringLiteral("sub")));
    const QString path =
        f.file(removeFile ? QStringLiteral("sub/gone.XLS") : QStringLiteral("full.XLS"));
    if (!removeFile)
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    QVERIFY(startLog(f, path));
    if (removeFile)
        QVERIFY(QDir(f.file(QStringLiteral("sub"))).removeRecursively());
    QVERIFY(f.device().send("ABC"));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText() == "ABC"; }));
    QVERIFY(PtyDevice::waitUntil([&] { return !f.answers.errors.isEmpty(); }));
    QVERIFY(!f.window().realTimeSaveOn());
    QVERIFY(f.answers.errors.constFirst().contains(path));
    QVERIFY(!f.answers.details.constFirst().isEmpty());
    // Reception and display go on, and the failure is not reported again.
    QVERIFY(f.device().send("DEF"));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText() == "ABCDEF"; }));
    PtyDevice::serveEvents(50);
    QCOMPARE(f.answers.errors.size(), 1);
}

void TestFiles::removedLogFileIsWrittenAgain()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.openPort());
    const QString path = f.file(QStringLiteral("log.XLS"));
    QVERIFY(startLog(f, path));
    QVERIFY(f.device().send("ABC"));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText() == "ABC"; }));
    QVERIFY(QFile::remove(path));
    QVERIFY(f.device().send("DEF"));
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText() == "ABCDEF"; }));
    QVERIFY(f.window().realTimeSaveOn());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("A\r\nB\r\nC\r\nD\r\nE\r\nF\r\n"));
    QVERIFY(f.answers.errors.isEmpty());
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
