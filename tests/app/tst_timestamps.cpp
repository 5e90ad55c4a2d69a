// Time stamps and gap rows: a line's stamp is the time its first byte was read, the same in the
// display, the log and a saved file; a pause on the line starts a row in HEX and ASC.
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QFile>
#include <QRegularExpression>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <thread>

using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

constexpr int Hex = 0;
constexpr int Asc = 1;

QStringList rows(kirt::ReceiveDisplay* display)
{
    display->flushPending();
    QStringList out;
    for (QTextBlock b = display->document()->begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Milliseconds since midnight of a "[hh:mm:ss.zzz] " stamp at the start of a row, or -1.
int stampMs(const QString& row)
{
    static const QRegularExpression stamp(
        QStringLiteral(R"(^\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\] )"));
    const QRegularExpressionMatch m = stamp.match(row);
    if (!m.hasMatch())
        return -1;
    return ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) *
               1000 +
           m.captured(4).toInt();
}

// Stamps make the whole text unknown beforehand: waits for a part of it.
bool waitForPart(WindowFixture& f, const QString& part)
{
    return kirt::PtyDevice::waitUntil([&] { return f.display()->displayText().contains(part); });
}

} // namespace

class TestTimeStamps : public QObject
{
    Q_OBJECT

private slots:
    void stampIsTheReadTimeInDisplayLogAndSave();
    void deltaStampsAndGapRows();
    void settingsAreKept();
};

void TestTimeStamps::stampIsTheReadTimeInDisplayLogAndSave()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    f.choose("TimeStampComboBox", 1);
    QVERIFY(f.openPort());
    const QString log = f.file(QStringLiteral("run.log"));
    QVERIFY(kirt::test::startLog(f, log));

    // The second line's first byte is read at 300 ms while the window is busy from 200 to
    // 400 ms: its stamp says 300, not 400.
    QVERIFY(f.device().send("one\r\n"));
    QVERIFY(waitForPart(f, QStringLiteral("one")));
    QTimer::singleShot(200, [] { QThread::msleep(200); });
    std::thread later([&f] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        f.device().send("two\r\n");
    });
    const bool shown = waitForPart(f, QStringLiteral("two"));
    later.join();
    QVERIFY(shown);
    const QStringList shownRows = rows(f.display());
    QCOMPARE(shownRows.size(), 3);
    QVERIFY2(shownRows[0].endsWith(QStringLiteral("] one")), qPrintable(shownRows[0]));
    QVERIFY2(shownRows[1].endsWith(QStringLiteral("] two")), qPrintable(shownRows[1]));
    QCOMPARE(shownRows[2], QString());
    const int apart = stampMs(shownRows[1]) - stampMs(shownRows[0]);
    qInfo("stamps %d ms apart", apart);
    QVERIFY2(stampMs(shownRows[0]) >= 0 && std::abs(apart - 300) <= 40,
             qPrintable(shownRows.join(u'|')));

    // The log has the same lines and stamps; a line is written when it ends.
    const QByteArray lines =
        (shownRows[0] + QStringLiteral("\r\n") + shownRows[1] + QStringLiteral("\r\n")).toLatin1();
    QVERIFY(kirt::PtyDevice::waitUntil([&] { return contents(log) == lines; }));
    // The unfinished last line is written when the log stops.
    QVERIFY(f.device().send("thr"));
    QVERIFY(waitForPart(f, QStringLiteral("thr")));
    const QString third = rows(f.display()).at(2);
    f.answers.answers.push_back(true);
    f.triggerAction(QStringLiteral("RunTimeSave1"));
    QVERIFY(!f.window().realTimeSaveOn());
    QCOMPARE(contents(log), lines + third.toLatin1() + "\r\n");

    // Save carries the stamps as shown.
    const QString saved = f.file(QStringLiteral("saved.txt"));
    f.answers.paths.push_back(saved);
    f.triggerAction("FileSaveAs");
    QCOMPARE(contents(saved), lines + third.toLatin1() + "\r\n");
}

void TestTimeStamps::deltaStampsAndGapRows()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Hex);
    f.choose("TimeStampComboBox", 2);
    f.choose("GapSplitComboBox", 3); // 20 ms
    QVERIFY(f.openPort());
    // A request and its answer 100 ms later are two rows in HEX.
    QVERIFY(f.device().send(QByteArray("\x01\x02", 2)));
    QVERIFY(waitForPart(f, QStringLiteral("01 02 ")));
    QTest::qWait(100);
    QVERIFY(f.device().send(QByteArray("\x03\x04", 2)));
    QVERIFY(waitForPart(f, QStringLiteral("03 04 ")));
    QStringList shown = rows(f.display());
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0], QStringLiteral("[+0.000] 01 02 "));
    static const QRegularExpression delta(QStringLiteral(R"(^\[\+0\.(\d\d\d)\] 03 04 $)"));
    const QRegularExpressionMatch m = delta.match(shown[1]);
    QVERIFY2(m.hasMatch() && m.captured(1).toInt() >= 90, qPrintable(shown[1]));

    // In ASC a gap right after a line break adds no empty row; "OFF" keeps the rows together.
    f.choose("TimeStampComboBox", 0);
    f.choose("DisplayFormatComboBox", Asc);
    f.click("CLEAR_BitBtn");
    for (const char* piece : {"ab", "cd\r\n", "ef"}) {
        QVERIFY(f.device().send(piece));
        QVERIFY(waitForPart(f, QString::fromLatin1(piece).trimmed()));
        QTest::qWait(60);
    }
    QCOMPARE(rows(f.display()), (QStringList{"ab", "cd", "ef"}));
    f.choose("GapSplitComboBox", 0);
    f.click("CLEAR_BitBtn");
    for (const char* piece : {"ab", "cd"}) {
        QVERIFY(f.device().send(piece));
        QTest::qWait(60);
    }
    QVERIFY(f.waitForText(QStringLiteral("abcd")));
}

void TestTimeStamps::settingsAreKept()
{
    WindowFixture f;
    f.showWithDisplayFormat(Hex);
    f.choose("TimeStampComboBox", 2);
    f.choose("GapSplitComboBox", 6);
    f.choose("FollowComboBox", 1);
    f.window().close();
    f.destroyWindow();
    const QByteArray stored = f.settings.read();
    for (const char* line : {"TimeStamp=2\n", "GapSplit=6\n", "Follow=1\n"})
        QVERIFY2(stored.contains(line), stored.constData());

    // Read back; an absent one takes its default without a word.
    f.settings.write(QByteArray(stored).replace("GapSplit=6\n", ""));
    f.showWithDisplayFormat(Hex);
    QCOMPARE(f.find<QComboBox>("TimeStampComboBox")->currentIndex(), 2);
    QCOMPARE(f.find<QComboBox>("GapSplitComboBox")->currentIndex(), 0);
    QCOMPARE(f.find<QComboBox>("FollowComboBox")->currentIndex(), 1);
    QVERIFY(f.answers.errors.isEmpty());
}

QTEST_MAIN(TestTimeStamps)
#include "tst_timestamps.moc"
