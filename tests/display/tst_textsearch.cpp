// Find in the display's text: byte sequences on a HEX display, plain text otherwise.
#include "display/textsearch.h"
#include "tests/support/columns.h"

#include <QElapsedTimer>
#include <QtTest>

class TestTextSearch : public QObject
{
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void fullHexDisplay();
};

void TestTextSearch::matches_data()
{
    kirt::test::columns<QString, QString, bool, bool>({"text", "query", "hex", "matchCase"});
    QTest::addColumn<QString>("matches"); // start+length of each

    // Hex digits match in either case, whatever the option.
    const QString crlf = QStringLiteral("41 0D 0A 42 0D 0A ");
    kirt::test::row("hex joined", crlf, "0D0A", true, true, "3+5 12+5");
    kirt::test::row("hex lower case, blank", crlf, "0d 0a", true, true, "3+5 12+5");
    kirt::test::row("hex blank", crlf, "0D 0A", true, true, "3+5 12+5");
    kirt::test::row("hex mixed case", crlf, "0d0A", true, true, "3+5 12+5");
    kirt::test::row("hex whole bytes only", "10 D0 A0 ", "0D0A", true, false, "");
    kirt::test::row("hex across a line end and stamp", "[12:00:00.000] 41 0D \n[+0.001] 0A 42 ",
                    "0D 0A", true, false, "18+15");
    kirt::test::row("hex text word breaks", "0D hello 0A ", "0D0A", true, false, "");
    kirt::test::row("hex longer word breaks", "0D 0A0A 0A ", "0D0A", true, false, "");
    kirt::test::row("hex open bracket breaks", "0D [x 0A ", "0D0A", true, false, "");
    kirt::test::row("hex after the last", "AA AA AA AA AA ", "AAAA", true, false, "0+5 6+5");
    kirt::test::row("hex odd digits are text", "1 2 3 123 ", "123", true, false, "6+3");
    kirt::test::row("hex non-hex is text", "[12:03:04.005] 41 ", "12:03", true, false, "1+5");
    kirt::test::row("hex text keeps case", "Xb xb", "xb", true, true, "3+2");
    kirt::test::row("asc digits are text", "0D 0A x0D0A", "0D0A", false, false, "7+4");
    kirt::test::row("asc any case", "Hi hi\nHI", "hi", false, false, "0+2 3+2 6+2");
    kirt::test::row("asc match case", "Hi hi\nHI", "hi", false, true, "3+2");
    kirt::test::row("asc after the last", "aaaaa", "aa", false, false, "0+2 2+2");
    kirt::test::row("empty query", "41 42 ", "", true, false, "");
}

void TestTextSearch::matches()
{
    QFETCH(QString, text);
    QFETCH(QString, query);
    QFETCH(bool, hex);
    QFETCH(bool, matchCase);
    QFETCH(QString, matches);
    QStringList found;
    for (const kirt::TextMatch& m :
         kirt::findMatches(text, query, hex, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive))
        found << QStringLiteral("%1+%2").arg(m.start).arg(m.length);
    QCOMPARE(found.join(u' '), matches);
}

void TestTextSearch::fullHexDisplay()
{
    // 5000 stamped rows, each ending in 0D and the next starting with 0A.
    QString row = QStringLiteral("[12:03:04.005] 0A");
    for (int i = 0x10; i < 0x24; ++i)
        row += QStringLiteral(" %1").arg(i, 2, 16).toUpper();
    row += QStringLiteral(" 0D \n");
    QElapsedTimer timer;
    timer.start();
    const QString text = row.repeated(5000);
    const qint64 built = timer.nsecsElapsed();
    const auto matches = kirt::findMatches(text, u"0D0A", true, Qt::CaseInsensitive);
    qDebug("5000 HEX rows: joined in %lld us, searched in %lld us", built / 1000,
           (timer.nsecsElapsed() - built) / 1000);
    QCOMPARE(matches.size(), std::size_t(4999));
    QCOMPARE(text.mid(matches.back().start, matches.back().length),
             QStringLiteral("0D \n[12:03:04.005] 0A"));
    QCOMPARE(matches.back().start, 4999 * row.size() - 4);
}

QTEST_GUILESS_MAIN(TestTextSearch)
#include "tst_textsearch.moc"
