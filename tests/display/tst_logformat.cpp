// The real-time log: the text of each layout, the time stamp, and the file it is appended to.
#include "display/logfile.h"
#include "display/logformat.h"
#include "tests/support/columns.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace kirt;
using kirt::test::fileContents;

namespace {

// The log text of a run of bytes, with "T" for every time stamp.
QString logOf(const LogLayout& layout, const QByteArray& bytes)
{
    QString text;
    for (const char b : bytes)
        text += LogEntry(layout, static_cast<std::uint8_t>(b), QStringLiteral("T"));
    return text;
}

} // namespace

class TestLogFormat : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data();
    void layouts();
    void stampOnlyWhereWritten();
    void timeStamp_data();
    void timeStamp();
    void fileHoldsTheTextByteForByte();
    void fileFailures();
    void removedOrReplacedFileIsWrittenAgain();
    void pathTakenByWhatIsNoFile();
    void batchIsWrittenAtTheFlush();
    void remadeLogEqualsAnUninterruptedOne();
};

void TestLogFormat::layouts_data()
{
    kirt::test::columns<bool, int, bool, QByteArray, QString>(
        {"hex", "condition", "timeLog", "bytes", "log"});
    kirt::test::row("hex: a row per byte", true, 0, false, QByteArray("\x41\x0d\x00\xff", 4),
                    "41 \r\n0D \r\n00 \r\nFF \r\n");
    kirt::test::row("hex, time: three blanks", true, 0, true, QByteArray("AB"),
                    "41   T\r\n42   T\r\n");
    kirt::test::row("asc: a row per byte, zero adds no character", false, 0, false,
                    QByteArray("A\0\r", 3), "A\r\n\r\n\r\r\n");
    kirt::test::row("asc, time", false, 0, true, QByteArray("A\n"), "A   T\r\n\n   T\r\n");
    kirt::test::row("asc, LF: extra break after LF", false, 2, false, QByteArray("AB\r\n"),
                    "AB\r\n\r\n");
    kirt::test::row("asc, CR behaves as LF", false, 1, false, QByteArray("AB\r\n"), "AB\r\n\r\n");
    kirt::test::row("asc, CR, time: stamp before CR and LF", false, 1, true, QByteArray("A\r\n"),
                    "A   T\r   T\n");
    kirt::test::row("asc, LF, time: no extra break", false, 2, true, QByteArray("x\n\0y", 4),
                    "x   T\ny");
    kirt::test::row("latin-1 passes unchanged", false, 2, false, QByteArray("\xe9\x7f"),
                    "\u00e9\u007f");
}

void TestLogFormat::layouts()
{
    QFETCH(bool, hex);
    QFETCH(int, condition);
    QFETCH(bool, timeLog);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, log);
    const LogLayout layout{hex, static_cast<LogCondition>(condition), timeLog};
    QCOMPARE(logOf(layout, bytes), log);
}

void TestLogFormat::stampOnlyWhereWritten()
{
    // The window makes a stamp only when asked for; a layout that writes one never lacks it.
    for (const bool hex : {true, false})
        for (const int condition : {0, 1, 2})
            for (const bool timeLog : {false, true}) {
                if (hex && condition != 0)
                    continue;
                const LogLayout layout{hex, static_cast<LogCondition>(condition), timeLog};
                for (int b = 0; b < 256; ++b) {
                    const auto ch = static_cast<std::uint8_t>(b);
                    const bool written = LogEntry(layout, ch, QStringLiteral("\x01STAMP"))
                                             .contains(QStringLiteral("STAMP"));
                    QCOMPARE(LogEntryNeedsTimeStamp(layout, ch), written);
                }
            }
}

void TestLogFormat::timeStamp_data()
{
    kirt::test::columns<QLocale, QDateTime, QString>({"locale", "time", "stamp"});
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const QDate day(2024, 3, 5);
    kirt::test::row("afternoon, fraction dropped", us, QDateTime(day, QTime(14, 7, 9, 750)),
                    "3/5/24 14:07:09");
    kirt::test::row("morning keeps two digits", us, QDateTime(day, QTime(8, 0, 0)),
                    "3/5/24 08:00:00");
    kirt::test::row("midnight: the date alone", us, QDateTime(day, QTime(0, 0, 0, 999)), "3/5/24");
    kirt::test::row("a second after midnight", us, QDateTime(day, QTime(0, 0, 1)),
                    "3/5/24 00:00:01");
    kirt::test::row("the locale's date", de, QDateTime(day, QTime(23, 59, 59)),
                    "05.03.24 23:59:59");
}

void TestLogFormat::timeStamp()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, time);
    QFETCH(QString, stamp);
    QCOMPARE(LogTimeStampText(time, locale), stamp);
}

void TestLogFormat::fileHoldsTheTextByteForByte()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.XLS"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("previous contents");
    }
    LogFile log;
    QVERIFY(log.start(path));
    QCOMPARE(fileContents(path), QByteArray()); // emptied at once
    QVERIFY(log.append(QStringLiteral("41 \r\n")));
    // Each entry is in the file as soon as it was appended, with nothing held back.
    QCOMPARE(fileContents(path), QByteArray("41 \r\n"));
    QVERIFY(log.append(QString()));
    QVERIFY(log.append(QString::fromLatin1("\xff\r\x00z", 4)));
    QCOMPARE(fileContents(path), QByteArray("41 \r\n\xff\r\x00z", 9));
    QCOMPARE(log.written(), 9);
    log.stop();
    QVERIFY(!log.isOpen());
    QVERIFY(!log.append(QStringLiteral("late")));
    QCOMPARE(fileContents(path), QByteArray("41 \r\n\xff\r\x00z", 9));
    // A new start empties the same file again.
    QVERIFY(log.start(path));
    QCOMPARE(fileContents(path), QByteArray());
    QCOMPARE(log.written(), 0);
}

void TestLogFormat::fileFailures()
{
    QTemporaryDir dir;
    LogFile log;
    QVERIFY(!log.start(dir.filePath(QStringLiteral("no/such/folder/log"))));
    QVERIFY(!log.errorString().isEmpty());

    // A full disk: the start succeeds, the first entry fails and closes the log.
    QVERIFY(log.start(QStringLiteral("/dev/full")));
    QVERIFY(!log.append(QStringLiteral("x")));
    QVERIFY(!log.isOpen());
    QVERIFY(!log.errorString().isEmpty());

    // A removed file whose folder went too cannot be written again: that is a failure.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString path = dir.filePath(QStringLiteral("sub/gone"));
    QVERIFY(log.start(path));
    QVERIFY(log.append(QStringLiteral("a")));
    QVERIFY(QDir(dir.filePath(QStringLiteral("sub"))).removeRecursively());
    QVERIFY(!log.append(QStringLiteral("b")));
    QVERIFY(!log.isOpen());
    QVERIFY(!log.errorString().isEmpty());
    QVERIFY(!QFile::exists(path));
}

void TestLogFormat::removedOrReplacedFileIsWrittenAgain()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.XLS"));
    LogFile log;
    QVERIFY(log.start(path));
    QVERIFY(log.append(QStringLiteral("first ")));

    QVERIFY(QFile::remove(path));
    QVERIFY(log.append(QStringLiteral("second ")));
    QCOMPARE(fileContents(path), QByteArray("first second "));

    // Another file put in its place (an editor saving over it): the log takes the path back.
    const QString other = dir.filePath(QStringLiteral("other"));
    {
        QFile file(other);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("someone else's");
    }
    QVERIFY(QFile::setPermissions(other, QFile::ReadOwner | QFile::WriteOwner));
    const QFile::Permissions ordinary = QFileInfo(path).permissions();
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(other, path));
    QVERIFY(log.append(QString::fromLatin1("\xff\x00", 2)));
    QCOMPARE(fileContents(path), QByteArray("first second \xff\x00", 15));
    // The log made anew has the mode of any new file, and nothing is left beside it.
    QCOMPARE(QFileInfo(path).permissions(), ordinary);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("log.XLS")});
    // And appending goes on to the new file.
    QVERIFY(log.append(QStringLiteral("end")));
    QCOMPARE(fileContents(path), QByteArray("first second \xff\x00"
                                            "end",
                                            18));
    QCOMPARE(log.written(), 18);
}

// A link or a FIFO put at the log's path ends the log; nothing goes through it, nothing waits.
void TestLogFormat::pathTakenByWhatIsNoFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.XLS"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("someone's data");
    }
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    LogFile log;
    QVERIFY(!log.start(QFile::decodeName(fifo)));
    for (const bool link : {true, false}) {
        QVERIFY(log.start(path));
        QVERIFY(log.append(QStringLiteral("a")));
        QVERIFY(QFile::remove(path));
        QVERIFY(link ? QFile::link(victim, path)
                     : ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QVERIFY(!log.append(QStringLiteral("b")));
        QVERIFY(!log.isOpen());
        QVERIFY(!log.errorString().isEmpty());
        QCOMPARE(fileContents(victim), QByteArray("someone's data"));
        QVERIFY(QFile::remove(path));
    }
}

void TestLogFormat::batchIsWrittenAtTheFlush()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.XLS"));
    LogFile log;
    QVERIFY(log.start(path));
    QByteArray expected;
    for (int i = 0; i < 3000; ++i) {
        const auto ch = static_cast<std::uint8_t>(i * 7);
        const QString entry = LogEntry(LogLayout{}, ch, QString());
        log.add(entry);
        expected += entry.toLatin1();
    }
    QCOMPARE(fileContents(path), QByteArray());
    QVERIFY(log.flush());
    QCOMPARE(fileContents(path), expected);
    QVERIFY(log.flush()); // nothing new: nothing written twice
    QCOMPARE(fileContents(path), expected);
}

void TestLogFormat::remadeLogEqualsAnUninterruptedOne()
{
    // More than one copy block of contents, taken back from the open descriptor each time.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.XLS"));
    const QString plainPath = dir.filePath(QStringLiteral("plain.XLS"));
    LogFile log;
    LogFile plain;
    QVERIFY(log.start(path) && plain.start(plainPath));
    const auto batch = [&](int n) {
        QString text;
        for (int i = 0; i < 100'000; ++i)
            text += QChar((n * 31 + i) % 256);
        return log.append(text) && plain.append(text);
    };
    QVERIFY(batch(1));
    QVERIFY(QFile::remove(path));
    QVERIFY(batch(2));
    const QString other = dir.filePath(QStringLiteral("other"));
    QVERIFY(QFile::copy(plainPath, other));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(other, path)); // same size, another file
    QVERIFY(batch(3));
    QCOMPARE(log.written(), 300'000);
    QVERIFY(fileContents(path) == fileContents(plainPath));
}

QTEST_GUILESS_MAIN(TestLogFormat)
#include "tst_logformat.moc"
