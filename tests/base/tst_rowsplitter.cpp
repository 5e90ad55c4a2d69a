// The display's row rule: line breaks and wrapping, whatever pieces the text comes in.
#include "base/rowsplitter.h"
#include "tests/support/columns.h"

#include <QtTest>

using kirt::RowSplitter;

namespace {

// The rows of text fed in pieces of `step` characters: "|" where a line break ends a row,
// "~" where a full row wraps (before the start of a word that moved to the next row).
QString rowsOf(const QString& text, int columns, qsizetype step)
{
    RowSplitter rows(columns);
    QString out;
    for (qsizetype from = 0; from < text.size(); from += step) {
        const QStringView part = QStringView(text).mid(from, step);
        for (qsizetype pos = 0; pos < part.size();) {
            const RowSplitter::Piece piece = rows.next(part.data() + pos, part.size() - pos);
            out += part.mid(pos, piece.length);
            if (piece.end == RowSplitter::End::Line)
                out += u'|';
            else if (piece.end == RowSplitter::End::Wrap)
                out.insert(out.size() - piece.carried, u'~');
            pos += piece.consumed;
        }
    }
    return out;
}

} // namespace

class TestRowSplitter : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void endedRowTakesNoLf();
    void rowsOfLineMatchesTheSplitter();
};

void TestRowSplitter::rows_data()
{
    kirt::test::columns<QString, int, QString>({"text", "columns", "rows"});
    kirt::test::row("plain", "AB", 4, "AB");
    kirt::test::row("CR, LF and CR LF each end one row", "A\rB\nC\r\nD", 4, "A|B|C|D");
    kirt::test::row("empty lines are rows", "\r\r\n\n", 4, "|||");
    kirt::test::row("LF CR is two breaks", "\n\r", 4, "||");
    kirt::test::row("wraps every row width", "ABCDEFG", 3, "ABC~DEF~G");
    kirt::test::row("break after a full row adds no empty row", "ABC\r\nD", 3, "ABC|D");
    kirt::test::row("full row at the end does not wrap", "ABC", 3, "ABC");
    kirt::test::row("one column", "AB\n\n", 1, "A~B||");
    kirt::test::row("HEX pairs stay whole, the blank at the edge stays up", "77 77 77 77 77", 8,
                    "77 77 77 ~77 77");
    kirt::test::row("a word that does not fit moves down", "ab cdefg", 5, "ab ~cdefg");
    kirt::test::row("a word longer than a row breaks anywhere", "abcdefgh ij", 3, "abc~def~gh ~ij");
    kirt::test::row("blanks past the edge, then a break", "abc   \nd", 3, "abc   |d");
    kirt::test::row("break characters only, no others", QString::fromLatin1("\x0B\x0C\x85"), 2,
                    QString::fromLatin1("\x0B\x0C~\x85"));
}

void TestRowSplitter::rows()
{
    QFETCH(QString, text);
    QFETCH(int, columns);
    QFETCH(QString, rows);
    // Whole, and one character at a time: a CR LF or a wrap split across pieces is the same.
    QCOMPARE(rowsOf(text, columns, text.size() + 1), rows);
    QCOMPARE(rowsOf(text, columns, 1), rows);
    QCOMPARE(rowsOf(text, columns, 2), rows);
}

void TestRowSplitter::endedRowTakesNoLf()
{
    // A row ended from outside (a forced break) after a CR: the LF that follows is its own row.
    RowSplitter rows(8);
    const char cr = '\r';
    const char lf = '\n';
    QCOMPARE(rows.next(&cr, 1).end, RowSplitter::End::Line);
    rows.endRow();
    const RowSplitter::Piece piece = rows.next(&lf, 1);
    QCOMPARE(piece.end, RowSplitter::End::Line);
    QCOMPARE(piece.consumed, qsizetype(1));
    // A row carried on from earlier text wraps where the earlier text left it.
    rows.setRowLength(7);
    const char text[] = "XY";
    QCOMPARE(rows.next(text, 2).length, qsizetype(1));
    QCOMPARE(rows.next(text + 1, 1).end, RowSplitter::End::Wrap);
}

void TestRowSplitter::rowsOfLineMatchesTheSplitter()
{
    for (int columns : {1, 3, 80}) {
        for (int length = 0; length <= 200; ++length) {
            const QString line = rowsOf(QString(length, u'x'), columns, 7);
            QCOMPARE(RowSplitter::rowsOfLine(length, columns), qint64(line.count(u'~') + 1));
        }
    }
}

QTEST_APPLESS_MAIN(TestRowSplitter)
#include "tst_rowsplitter.moc"
