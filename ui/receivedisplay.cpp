#include "ui/receivedisplay.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QWheelEvent>

#include <utility>
#include <vector>

namespace kirt {

namespace {

// Block user state of a row that continues on the next row.
constexpr int WrappedRow = 1;

// Marks a line break in the collected text; the display only ever holds ISO-8859-1.
constexpr char16_t ForcedBreak = u'\u2028';

// Marks the characters of sent text, so a new colour scheme finds them again.
constexpr int SentProperty = QTextFormat::UserProperty + 1;
constexpr int MonitorProperty = QTextFormat::UserProperty + 2;

using kirt::RowSplitter;

// Lays text out in rows, giving each piece of a row and how the piece ends to visit.
template <typename Visit> void layOut(QStringView text, RowSplitter& rows, Visit&& visit)
{
    qsizetype pos = 0;
    while (pos < text.size()) {
        if (text[pos] == QChar(ForcedBreak)) {
            rows.endRow();
            visit(QStringView(), RowSplitter::Piece{0, 1, RowSplitter::End::Line, 0});
            ++pos;
            continue;
        }
        qsizetype stop = text.indexOf(QChar(ForcedBreak), pos);
        if (stop < 0)
            stop = text.size();
        while (pos < stop) {
            const RowSplitter::Piece piece = rows.next(text.data() + pos, stop - pos);
            visit(text.mid(pos, piece.length), piece);
            pos += piece.consumed;
        }
    }
}

// The format is given every time: a cursor would otherwise take on the format of the text
// before it, and received text after sent text would come out in the sent colour.
void insertPiece(QTextCursor& cursor, QStringView row, const RowSplitter::Piece& piece,
                 const QTextCharFormat& format)
{
    if (!row.isEmpty())
        cursor.insertText(row.toString(), format);
    QTextDocumentFragment carried;
    if (piece.end == RowSplitter::End::Wrap) {
        // The start of a word that did not fit leaves the full row for the new one, with the
        // colours its characters had.
        if (piece.carried > 0) {
            cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor,
                                static_cast<int>(piece.carried));
            carried = cursor.selection();
            cursor.removeSelectedText();
        }
        cursor.block().setUserState(WrappedRow);
    }
    if (piece.end != RowSplitter::End::Open)
        cursor.insertBlock();
    if (!carried.isEmpty())
        cursor.insertFragment(carried);
}

} // namespace

ReceiveDisplay::ReceiveDisplay(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false);
    setAcceptDrops(false);
    m_scrollTimer = new QTimer(this);
    m_scrollTimer->setSingleShot(true);
    m_scrollTimer->setInterval(RefreshMs);
    connect(m_scrollTimer, &QTimer::timeout, this, &ReceiveDisplay::refreshTick);
    m_columns = columnsForWidth();
    m_sentFormat.setProperty(SentProperty, true);
    m_sentFormat.setForeground(QColor(Qt::blue));
    m_monitorFormat.setProperty(MonitorProperty, true);
    m_monitorFormat.setForeground(QColor(0, 128, 0));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ReceiveDisplay::updateHeld);
    connect(this, &QPlainTextEdit::selectionChanged, this, &ReceiveDisplay::updateHeld);
}

namespace {

// Marks what the display scrolls or selects itself, so only the user's own moves hold the view.
class OwnScroll
{
public:
    explicit OwnScroll(int& depth) : m_depth(depth) { ++m_depth; }
    ~OwnScroll() { --m_depth; }
    OwnScroll(const OwnScroll&) = delete;
    OwnScroll& operator=(const OwnScroll&) = delete;

private:
    int& m_depth;
};

} // namespace

void ReceiveDisplay::setFollow(Follow follow)
{
    m_follow = follow;
    updateHeld();
}

void ReceiveDisplay::updateHeld()
{
    if (m_ownScroll > 0)
        return;
    setHeld(m_follow == Follow::AtEnd && (!lastRowInView() || textCursor().hasSelection()));
}

bool ReceiveDisplay::lastRowInView() const
{
    // The empty row after a final line break is no row; the one before it is the last.
    int last = document()->blockCount() - 1;
    if (last > 0 && document()->lastBlock().length() <= 1)
        --last;
    const QPoint bottom(0, std::max(viewport()->height() - 1, 0));
    return cursorForPosition(bottom).blockNumber() >= last;
}

void ReceiveDisplay::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    emit heldBackChanged(held);
}

void ReceiveDisplay::followNow()
{
    {
        const OwnScroll own(m_ownScroll);
        moveCursor(QTextCursor::End);
        ensureCursorVisible();
    }
    setHeld(false);
}

void ReceiveDisplay::keepViewAfterCut(int rowsCut)
{
    if (!m_held || rowsCut <= 0)
        return;
    // The view's position is the number of its first row; the rows it showed moved up.
    QScrollBar* bar = verticalScrollBar();
    const OwnScroll own(m_ownScroll);
    bar->setValue(std::max(bar->value() - rowsCut, 0));
}

bool ReceiveDisplay::isSentFormat(const QTextCharFormat& format)
{
    return format.boolProperty(SentProperty);
}

bool ReceiveDisplay::isMonitorFormat(const QTextCharFormat& format)
{
    return format.boolProperty(MonitorProperty);
}

QTextCharFormat ReceiveDisplay::formatOf(const QTextCharFormat& shown) const
{
    return isSentFormat(shown)      ? m_sentFormat
           : isMonitorFormat(shown) ? m_monitorFormat
                                    : QTextCharFormat();
}

void ReceiveDisplay::setSentColour(const QColor& colour)
{
    if (colour == sentColour())
        return;
    m_sentFormat.setForeground(colour);
    recolour(SentProperty, m_sentFormat);
}

void ReceiveDisplay::setMonitorColour(const QColor& colour)
{
    if (colour == monitorColour())
        return;
    m_monitorFormat.setForeground(colour);
    recolour(MonitorProperty, m_monitorFormat);
}

void ReceiveDisplay::recolour(int property, const QTextCharFormat& format)
{
    flushPending();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !fragment.charFormat().boolProperty(property))
                continue;
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(format);
        }
    }
    cursor.endEditBlock();
}

int ReceiveDisplay::columnsForWidth() const
{
    const int charWidth = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
    const int margins = 2 * static_cast<int>(document()->documentMargin()) + 2;
    const int usable = viewport()->width() - margins;
    return std::max(1, usable / charWidth);
}

void ReceiveDisplay::holdRepaint()
{
    // While data flows the view is painted by the refresh tick, not after every byte.
    if (viewport()->updatesEnabled())
        viewport()->setUpdatesEnabled(false);
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

void ReceiveDisplay::appendData(const QString& text)
{
    if (text.isEmpty())
        return;
    holdRepaint();
    collect(text);
}

void ReceiveDisplay::appendMonitor(const QString& text)
{
    if (text.isEmpty())
        return;
    holdRepaint();
    const qsizetype start = m_pending.size();
    collect(text);
    if (!m_pendingMonitor.empty() && m_pendingMonitor.back().second == start)
        m_pendingMonitor.back().second = m_pending.size();
    else
        m_pendingMonitor.emplace_back(start, m_pending.size());
}

void ReceiveDisplay::appendLineBreak()
{
    holdRepaint();
    const QChar lineBreak(ForcedBreak);
    collect(QStringView(&lineBreak, 1));
}

void ReceiveDisplay::collect(QStringView text)
{
    if (m_pending.isEmpty()) {
        m_pendingMonitor.clear();
        m_pendingRows = rowsAtEnd();
        m_pendingEnds = 0;
        m_pendingBlank = true;
    }
    m_pending += text;
    layOut(text, m_pendingRows, [this](QStringView row, const RowSplitter::Piece& piece) {
        m_pendingBlank = m_pendingBlank && row.isEmpty() && piece.end == RowSplitter::End::Open;
        if (piece.end != RowSplitter::End::Open)
            ++m_pendingEnds;
    });
}

RowSplitter ReceiveDisplay::rowsAtEnd() const
{
    RowSplitter rows = m_rows;
    rows.setColumns(m_columns);
    const QString row = document()->lastBlock().text();
    rows.resumeRow(row.constData(), row.size());
    return rows;
}

void ReceiveDisplay::flushPending()
{
    if (m_pending.isEmpty())
        return;
    const QString pending = std::exchange(m_pending, QString());
    const std::uint32_t cut = std::exchange(m_pendingCut, 0);
    const OwnScroll own(m_ownScroll);
    m_sinceFlush.start();
    m_rows = rowsAtEnd();
    const auto blocks = static_cast<std::uint32_t>(document()->blockCount());
    // The shortcut lays out plain text only.
    if (cut >= blocks && m_pendingMonitor.empty() && !holdsMarkedText(document()->lastBlock())) {
        replaceWithNewest(pending, cut - (blocks - 1));
        return;
    }
    QTextCursor cursor(document());
    // Inside an edit block a cursor move does not lay out the row to find its x position.
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    std::size_t span = 0;
    layOut(pending, m_rows, [&](QStringView row, const RowSplitter::Piece& piece) {
        insertCollected(cursor, pending, row, piece, span);
    });
    m_pendingMonitor.clear();
    // Cutting at the front after appending at the end gives the rows cut batch by batch would:
    // a cut never reaches the row being filled.
    if (cut > 0) {
        cursor.setPosition(0);
        const QTextBlock first = document()->findBlockByNumber(static_cast<int>(cut));
        cursor.setPosition(first.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    keepViewAfterCut(static_cast<int>(cut));
}

void ReceiveDisplay::insertCollected(QTextCursor& cursor, const QString& pending, QStringView row,
                                     const RowSplitter::Piece& piece, std::size_t& span)
{
    const QTextCharFormat received;
    if (row.isEmpty() || span >= m_pendingMonitor.size()) {
        insertPiece(cursor, row, piece, received);
        return;
    }
    // The row in runs of one colour each; only the last run ends the row as the piece does.
    qsizetype at = row.data() - pending.data();
    const qsizetype end = at + row.size();
    while (at < end) {
        while (span < m_pendingMonitor.size() && m_pendingMonitor[span].second <= at)
            ++span;
        const bool monitor = span < m_pendingMonitor.size() && m_pendingMonitor[span].first <= at;
        const qsizetype runEnd = std::min(end, span >= m_pendingMonitor.size() ? end
                                               : monitor ? m_pendingMonitor[span].second
                                                         : m_pendingMonitor[span].first);
        const QStringView run = QStringView(pending).mid(at, runEnd - at);
        const RowSplitter::Piece open{piece.length, piece.consumed, RowSplitter::End::Open, 0};
        insertPiece(cursor, run, runEnd == end ? piece : open,
                    monitor ? m_monitorFormat : received);
        at = runEnd;
    }
}

bool ReceiveDisplay::holdsMarkedText(const QTextBlock& block)
{
    for (auto it = block.begin(); !it.atEnd(); ++it)
        if (it.fragment().isValid() && (isSentFormat(it.fragment().charFormat()) ||
                                        isMonitorFormat(it.fragment().charFormat())))
            return true;
    return false;
}

void ReceiveDisplay::replaceWithNewest(const QString& pending, std::uint32_t skip)
{
    // Every row shown now goes, and so do the first `skip` rows of the collected text: only
    // the newest rows are put in, instead of putting in rows only to cut them again (a fast
    // stream brings thousands a refresh). The rows are laid out exactly as appending would.
    struct Row
    {
        QString text;
        RowSplitter::End end = RowSplitter::End::Open;
    };
    std::vector<Row> kept;
    QString row = document()->lastBlock().text(); // the row the collected text goes on with
    std::uint32_t index = 0;
    layOut(pending, m_rows, [&](QStringView piece, const RowSplitter::Piece& how) {
        row += piece;
        if (how.end == RowSplitter::End::Open)
            return;
        // The start of a word that did not fit moves on to the next row.
        const QString carried = how.end == RowSplitter::End::Wrap && how.carried > 0
                                    ? row.right(static_cast<qsizetype>(how.carried))
                                    : QString();
        row.chop(carried.size());
        if (index++ >= skip)
            kept.push_back({std::exchange(row, carried), how.end});
        else
            row = carried;
    });
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.block().setUserState(-1);
    const QTextCharFormat received;
    for (const Row& r : kept) {
        if (!r.text.isEmpty())
            cursor.insertText(r.text, received);
        if (r.end == RowSplitter::End::Wrap)
            cursor.block().setUserState(WrappedRow);
        cursor.insertBlock();
    }
    if (!row.isEmpty())
        cursor.insertText(row, received);
    cursor.endEditBlock();
}

void ReceiveDisplay::appendSent(const QString& text)
{
    if (text.isEmpty())
        return;
    // Whatever was appended before goes in first, so the two stay in order.
    flushPending();
    holdRepaint();
    const OwnScroll own(m_ownScroll);
    m_rows = rowsAtEnd();
    QTextCursor cursor(document());
    // Inside an edit block a cursor move does not lay out the row to find its x position.
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    layOut(text, m_rows, [&](QStringView row, const RowSplitter::Piece& piece) {
        insertPiece(cursor, row, piece, m_sentFormat);
    });
    cursor.endEditBlock();
}

void ReceiveDisplay::setDisplayText(const QString& text)
{
    clearDisplay();
    appendData(text);
    // A loaded file is there at once, with its modified flag as the loader leaves it.
    flushPending();
}

void ReceiveDisplay::clearDisplay()
{
    m_pending.clear();
    m_pendingMonitor.clear();
    m_pendingCut = 0;
    flushScroll();
    {
        const OwnScroll own(m_ownScroll);
        clear();
    }
    m_rows.endRow();
    setHeld(false);
}

bool ReceiveDisplay::isEmpty() const
{
    return document()->isEmpty() && m_pending.isEmpty();
}

QString ReceiveDisplay::displayText()
{
    flushPending();
    QString text;
    forEachRowAsLine(document()->begin(), document()->lastBlock(),
                     [&text](const QTextBlock& row, bool lineBreak) {
                         text += row.text();
                         if (lineBreak)
                             text += u'\n';
                     });
    return text;
}

ReceiveDisplaySink::LineEnd ReceiveDisplay::lineEnd() const
{
    // A wrap is always followed by a character of the new row, so an empty last row is a
    // line's start.
    const bool pending = !m_pending.isEmpty();
    const qsizetype row =
        pending ? m_pendingRows.rowLength() : document()->lastBlock().length() - 1;
    if (row > 0)
        return LineEnd::Inside;
    return (pending ? m_pendingRows : m_rows).afterCr() ? LineEnd::AfterCr : LineEnd::Start;
}

bool ReceiveDisplay::isWrappedRow(const QTextBlock& block)
{
    return block.userState() == WrappedRow;
}

std::uint32_t ReceiveDisplay::rowCount() const
{
    const QTextDocument* doc = document();
    if (m_pending.isEmpty()) {
        if (doc->isEmpty())
            return 0;
        auto rows = static_cast<std::uint32_t>(doc->blockCount());
        if (rows > 1 && doc->lastBlock().length() <= 1)
            --rows;
        return rows;
    }
    // Text not laid out yet counts with the rows it will make.
    if (doc->isEmpty() && m_pendingBlank)
        return 0;
    std::uint32_t rows = static_cast<std::uint32_t>(doc->blockCount()) + m_pendingEnds;
    if (rows > 1 && m_pendingRows.rowLength() == 0)
        --rows;
    return rows - m_pendingCut;
}

std::uint32_t ReceiveDisplay::trimToRows(std::uint32_t limit)
{
    flushPending();
    const std::uint32_t rows = rowCount();
    if (rows <= limit)
        return 0;
    const std::uint32_t cut = rows - limit;
    holdRepaint();
    const OwnScroll own(m_ownScroll);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    const QTextBlock last = document()->findBlockByNumber(static_cast<int>(cut));
    if (last.isValid())
        cursor.setPosition(last.position(), QTextCursor::KeepAnchor);
    else
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    keepViewAfterCut(static_cast<int>(cut));
    return cut;
}

void ReceiveDisplay::limitRows(std::uint32_t limit)
{
    const std::uint32_t rows = rowCount();
    // A limit of no rows would cut the row being filled: that cut is made at once.
    if (m_pending.isEmpty() || limit == 0 || rows <= limit) {
        if (m_pending.isEmpty() || limit == 0)
            trimToRows(limit);
        return;
    }
    m_pendingCut += rows - limit;
}

void ReceiveDisplay::scrollToEnd()
{
    m_scrollPending = true;
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

bool ReceiveDisplay::floodDeferred() const
{
    // Every row shown would be replaced: the stream brings more rows a refresh than the line
    // limit keeps, and a few refreshes a second show it as well as thirty, at a third of the
    // cost to the thread that serves the receive path.
    return !m_pending.isEmpty() &&
           m_pendingCut >= static_cast<std::uint32_t>(document()->blockCount()) &&
           m_sinceFlush.isValid() && m_sinceFlush.elapsed() < FloodRefreshMs;
}

void ReceiveDisplay::refreshTick()
{
    if (floodDeferred()) {
        m_scrollTimer->start();
        return;
    }
    if (m_batchSeen && !m_paintOverdue) {
        m_batchSeen = false;
        m_paintOverdue = true;
        m_scrollTimer->start();
        return;
    }
    flushScroll();
}

void ReceiveDisplay::batchEnded()
{
    m_batchSeen = true;
    if (!m_paintOverdue || floodDeferred())
        return;
    m_paintOverdue = false;
    // Queued, so the receive thread is released before the paint starts.
    QMetaObject::invokeMethod(this, &ReceiveDisplay::flushScroll, Qt::QueuedConnection);
}

void ReceiveDisplay::flushScroll()
{
    flushPending();
    m_scrollTimer->stop();
    m_paintOverdue = false;
    m_batchSeen = false;
    if (m_scrollPending) {
        m_scrollPending = false;
        if (!m_held) {
            const OwnScroll own(m_ownScroll);
            moveCursor(QTextCursor::End);
            ensureCursorVisible();
        }
    }
    if (!viewport()->updatesEnabled()) {
        viewport()->setUpdatesEnabled(true);
        viewport()->update();
    }
}

void ReceiveDisplay::reflow()
{
    // The text as displayText() gives it, in runs of one format, so sent text keeps its colour.
    struct Run
    {
        QString text;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    const auto add = [&runs](const QString& text, const QTextCharFormat& format) {
        if (!runs.empty() && runs.back().format == format)
            runs.back().text += text;
        else
            runs.push_back({text, format});
    };
    const QTextCharFormat received;
    forEachRowAsLine(document()->begin(), document()->lastBlock(),
                     [&](const QTextBlock& row, bool lineBreak) {
                         for (auto it = row.begin(); !it.atEnd(); ++it) {
                             const QTextFragment fragment = it.fragment();
                             if (fragment.isValid())
                                 add(fragment.text(), formatOf(fragment.charFormat()));
                         }
                         if (lineBreak)
                             add(QStringLiteral("\n"), received);
                     });
    const OwnScroll own(m_ownScroll);
    clear();
    RowSplitter rows(m_columns);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (const Run& run : runs)
        layOut(run.text, rows, [&](QStringView row, const RowSplitter::Piece& piece) {
            insertPiece(cursor, row, piece, run.format);
        });
    cursor.endEditBlock();
}

void ReceiveDisplay::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    // A scroll bar policy set while hidden is only laid out by the next change: apply it now,
    // so "Vertical" chosen on the settings page shows its bar as soon as the display does.
    setVerticalScrollBarPolicy(verticalScrollBarPolicy());
}

void ReceiveDisplay::resizeEvent(QResizeEvent* event)
{
    flushPending();
    QPlainTextEdit::resizeEvent(event);
    fitColumns();
}

void ReceiveDisplay::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        flushPending();
    QPlainTextEdit::changeEvent(event);
    // Another font size holds another number of characters a row.
    if (event->type() == QEvent::FontChange)
        fitColumns();
}

void ReceiveDisplay::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QPlainTextEdit::wheelEvent(event);
        return;
    }
    // One notch is 120; a touchpad's small steps add up until they make one.
    m_wheelZoom += event->angleDelta().y();
    const int steps = m_wheelZoom / 120;
    m_wheelZoom -= steps * 120;
    if (steps != 0)
        emit fontStepRequested(steps);
    event->accept();
}

void ReceiveDisplay::fitColumns()
{
    const int columns = columnsForWidth();
    if (columns == m_columns)
        return;
    m_columns = columns;
    if (!document()->isEmpty())
        reflow();
    emit rowsReflowed();
}

QMimeData* ReceiveDisplay::createMimeDataFromSelection() const
{
    // Copy what was received: rows that only wrapped are joined again.
    const QTextCursor selection = textCursor();
    QString text;
    const int start = selection.selectionStart();
    const int end = selection.selectionEnd();
    forEachRowAsLine(document()->findBlock(start), document()->findBlock(end),
                     [&](const QTextBlock& row, bool lineBreak) {
                         const int from = std::max(start - row.position(), 0);
                         const int to = std::min(end - row.position(), row.length() - 1);
                         if (to > from)
                             text += row.text().mid(from, to - from);
                         if (lineBreak)
                             text += u'\n';
                     });
    auto* mime = new QMimeData;
    mime->setText(text);
    return mime;
}

bool ReceiveDisplay::canInsertFromMimeData(const QMimeData*) const
{
    return false;
}

void ReceiveDisplay::insertFromMimeData(const QMimeData*)
{
    // Only typed keys reach the port; a paste would change the record of what arrived.
}

} // namespace kirt
