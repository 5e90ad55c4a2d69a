#include "ui/receivedisplay.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <utility>

namespace kirt {

namespace {

// Block user state of a row that continues on the next row.
constexpr int WrappedRow = 1;

// Marks a line break in the collected text; the display only ever holds ISO-8859-1.
constexpr char16_t ForcedBreak = u'\u2028';

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
    connect(m_scrollTimer, &QTimer::timeout, this, &ReceiveDisplay::flushScroll);
    m_columns = columnsForWidth();
}

int ReceiveDisplay::columnsForWidth() const
{
    const int charWidth = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
    const int margins = 2 * static_cast<int>(document()->documentMargin()) + 2;
    const int usable = viewport()->width() - margins;
    return std::max(1, usable / charWidth);
}

void ReceiveDisplay::insertWrapped(QTextCursor& cursor, const QString& text)
{
    // The cursor stands at the end of the document, in its last block.
    qsizetype from = 0;
    while (from < text.size()) {
        const int used = cursor.block().length() - 1;
        if (used >= m_columns) {
            cursor.block().setUserState(WrappedRow);
            cursor.insertBlock();
            continue;
        }
        const qsizetype take = std::min<qsizetype>(m_columns - used, text.size() - from);
        cursor.insertText(text.mid(from, take));
        from += take;
    }
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
    holdRepaint();
    m_pending += text;
}

void ReceiveDisplay::appendLineBreak()
{
    holdRepaint();
    m_pending += QChar(ForcedBreak);
}

void ReceiveDisplay::flushPending()
{
    if (m_pending.isEmpty())
        return;
    const QString pending = std::exchange(m_pending, QString());
    qsizetype start = 0;
    for (qsizetype i = 0; i <= pending.size(); ++i) {
        if (i < pending.size() && pending[i] != QChar(ForcedBreak))
            continue;
        if (i > start)
            insertData(pending.mid(start, i - start));
        if (i < pending.size())
            insertLineBreak();
        start = i + 1;
    }
}

void ReceiveDisplay::insertData(const QString& text)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        if (i > start) {
            insertWrapped(cursor, text.mid(start, i - start));
            m_pendingCr = false;
        }
        start = i + 1;
        if (c == u'\n' && m_pendingCr) {
            m_pendingCr = false;
            continue;
        }
        cursor.insertBlock();
        m_pendingCr = c == u'\r';
    }
    if (start < text.size()) {
        insertWrapped(cursor, text.mid(start));
        m_pendingCr = false;
    }
    cursor.endEditBlock();
}

void ReceiveDisplay::insertLineBreak()
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    m_pendingCr = false;
}

void ReceiveDisplay::setDisplayText(const QString& text)
{
    clearDisplay();
    appendData(text);
}

void ReceiveDisplay::clearDisplay()
{
    m_pending.clear();
    flushScroll();
    clear();
    m_pendingCr = false;
}

bool ReceiveDisplay::isEmpty() const
{
    return document()->isEmpty() && m_pending.isEmpty();
}

QString ReceiveDisplay::displayText() const
{
    // Reading the display includes what was appended but not yet laid out.
    const_cast<ReceiveDisplay*>(this)->flushPending();
    QString text;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        text += b.text();
        if (b.next().isValid() && b.userState() != WrappedRow)
            text += u'\n';
    }
    return text;
}

std::uint32_t ReceiveDisplay::rowCount() const
{
    // Reading the display includes what was appended but not yet laid out.
    const_cast<ReceiveDisplay*>(this)->flushPending();
    const QTextDocument* doc = document();
    if (doc->isEmpty())
        return 0;
    auto rows = static_cast<std::uint32_t>(doc->blockCount());
    if (rows > 1 && doc->lastBlock().length() <= 1)
        --rows;
    return rows;
}

std::uint32_t ReceiveDisplay::trimToRows(std::uint32_t limit)
{
    flushPending();
    const std::uint32_t rows = rowCount();
    if (rows <= limit)
        return 0;
    const std::uint32_t cut = rows - limit;
    holdRepaint();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    const QTextBlock last = document()->findBlockByNumber(static_cast<int>(cut));
    if (last.isValid())
        cursor.setPosition(last.position(), QTextCursor::KeepAnchor);
    else
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    return cut;
}

void ReceiveDisplay::scrollToEnd()
{
    m_scrollPending = true;
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

void ReceiveDisplay::flushScroll()
{
    flushPending();
    m_scrollTimer->stop();
    if (m_scrollPending) {
        m_scrollPending = false;
        moveCursor(QTextCursor::End);
        ensureCursorVisible();
    }
    if (!viewport()->updatesEnabled()) {
        viewport()->setUpdatesEnabled(true);
        viewport()->update();
    }
}

void ReceiveDisplay::reflow()
{
    const QString text = displayText();
    const bool pendingCr = m_pendingCr;
    clear();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        insertWrapped(cursor, lines[i]);
    }
    cursor.endEditBlock();
    m_pendingCr = pendingCr;
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
    // Reading the display includes what was appended but not yet laid out.
    const_cast<ReceiveDisplay*>(this)->flushPending();
    // Copy what was received: rows that only wrapped are joined again.
    const QTextCursor selection = textCursor();
    QString text;
    const int start = selection.selectionStart();
    const int end = selection.selectionEnd();
    for (QTextBlock b = document()->findBlock(start); b.isValid() && b.position() <= end;
         b = b.next()) {
        const int from = std::max(start - b.position(), 0);
        const int to = std::min(end - b.position(), b.length() - 1);
        if (to > from)
            text += b.text().mid(from, to - from);
        if (b.position() + b.length() <= end && b.userState() != WrappedRow)
            text += u'\n';
    }
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
