#pragma once

#include "base/rowsplitter.h"
#include "session/receivepipeline.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCharFormat>

#include <cstdint>
#include <utility>
#include <vector>

class QTimer;

namespace kirt {

// The receive display. Each displayed row, as RowSplitter lays the text out, is one block of the
// document, a wrapped one marked as such, so appending and cutting rows stay cheap however
// long a line grows, and the row count is the block count. The text of the display (for
// saving, printing and copying) joins wrapped rows again.
class ReceiveDisplay : public QPlainTextEdit, public ReceiveDisplaySink
{
    Q_OBJECT

public:
    explicit ReceiveDisplay(QWidget* parent = nullptr);

    // Appends text at the end; "\r", "\n" and "\r\n" end the line. The text is collected
    // and put into the document in one edit when the display is next flushed (the refresh
    // tick, a reader of the document's text), since an edit of the document costs far more
    // than a byte; until then the readers below count it as laid out.
    void appendData(const QString& text) override;
    // Appends text the program sent, in the sent colour, after everything appended so far.
    // It goes into the document at once: sent data is rare beside received bytes.
    void appendSent(const QString& text) override;
    // Appends a monitor port's text, in the monitor colour; collected as received text is.
    void appendMonitor(const QString& text) override;
    // Appends one line break.
    void appendLineBreak() override;
    // Puts collected text into the document and makes the cuts that wait for it.
    void flushPending();
    // Replaces everything (a loaded file); its line breaks are kept.
    void setDisplayText(const QString& text);
    void clearDisplay();

    // The display's text with lines joined where they only wrapped; lines end in "\n". Puts
    // collected text into the document first.
    QString displayText();
    // A row that only wrapped: its line goes on in the next block.
    static bool isWrappedRow(const QTextBlock& block);
    // The rows from first to last read back as the lines they came from: visit(row, lineBreak)
    // for each, lineBreak telling whether a line break follows the row (never after last, nor
    // after a row that only wrapped). Every reader of the rows as text goes through here.
    template <typename Visit>
    static void forEachRowAsLine(QTextBlock first, const QTextBlock& last, Visit&& visit)
    {
        for (QTextBlock b = first; b.isValid(); b = b.next()) {
            const bool final = b == last || !b.next().isValid();
            visit(b, !final && !isWrappedRow(b));
            if (final)
                break;
        }
    }
    bool isEmpty() const override;
    LineEnd lineEnd() const override;

    // Displayed rows; the empty row after a final line break does not count.
    std::uint32_t rowCount() const;
    // Cuts the oldest rows until at most limit remain; returns how many went.
    std::uint32_t trimToRows(std::uint32_t limit);
    // The same cut, made with the next flush while text is collected, so a stream costs at
    // most one edit a refresh period however many batches arrive.
    void limitRows(std::uint32_t limit) override;
    int columns() const { return m_columns; }

    // The colour of sent text; a change recolours what is already shown.
    void setSentColour(const QColor& colour);
    QColor sentColour() const { return m_sentFormat.foreground().color(); }
    // The format sent text is inserted with; received text has the default one.
    static bool isSentFormat(const QTextCharFormat& format);
    // The colour of a monitor port's text, as the sent colour.
    void setMonitorColour(const QColor& colour);
    QColor monitorColour() const { return m_monitorFormat.foreground().color(); }
    static bool isMonitorFormat(const QTextCharFormat& format);

    // "ALWAYS" goes to the end with every change; "AT END" follows only while the last row is
    // in view and nothing is selected, and otherwise keeps the rows in view where they are.
    enum class Follow { Always, AtEnd };
    void setFollow(Follow follow);
    Follow follow() const { return m_follow; }
    // The view is held back from new data.
    bool heldBack() const { return m_held; }
    // Caret to the end and into view, following new data again.
    void followNow();

    // Caret to the end and into view; done at most a few dozen times a second, since a
    // scroll and repaint per byte would cost far more than the byte.
    void scrollToEnd() override;
    // Runs a pending scroll and repaint now.
    void flushScroll();
    // A batch of received bytes has been appended and answered. While batches keep coming,
    // the repaint waits for the gap after one, so a request arriving meanwhile is not held up
    // by a paint; it never waits more than one extra refresh period.
    void batchEnded() override;

signals:
    void heldBackChanged(bool held);
    // The text was re-laid out after a width change. Rows may now exceed the line limit until
    // the next text arrives; a reflow alone cuts nothing.
    void rowsReflowed();
    // Ctrl+wheel: the font one step (or several) larger, or smaller when negative.
    void fontStepRequested(int steps);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    static constexpr int RefreshMs = 30;
    static constexpr int FloodRefreshMs = 100;

    void holdRepaint();
    // Reads the user's scroll position and selection: is the view held back?
    void updateHeld();
    // The last row, or part of it, is in view: the view is at the end.
    bool lastRowInView() const;
    void setHeld(bool held);
    // Oldest rows were cut: a held view keeps showing the rows it showed.
    void keepViewAfterCut(int rowsCut);
    void refreshTick();
    // A refresh that would replace every row shown waits until FloodRefreshMs have passed.
    bool floodDeferred() const;
    int columnsForWidth() const;
    void reflow();
    // Re-lays the rows out when the width or the font leaves room for another number of
    // characters.
    void fitColumns();
    // The row rule as it stands at the end of the document.
    kirt::RowSplitter rowsAtEnd() const;
    // Counts the rows the collected text will make, as it is collected.
    void collect(QStringView text);
    // A flush whose cut takes every row shown: the display gets only the rows that stay.
    void replaceWithNewest(const QString& pending, std::uint32_t skip);
    // The row holds text in another format than received text's.
    static bool holdsMarkedText(const QTextBlock& block);
    // The format a shown fragment was inserted with, in today's colours.
    QTextCharFormat formatOf(const QTextCharFormat& shown) const;
    void recolour(int property, const QTextCharFormat& format);
    // Inserts a piece of collected text, in the monitor colour where it came from a monitor.
    void insertCollected(QTextCursor& cursor, const QString& pending, QStringView row,
                         const RowSplitter::Piece& piece, std::size_t& span);

    int m_columns = 80;
    int m_wheelZoom = 0;      // wheel angle not yet a whole step
    QString m_pending;        // appended text not yet in the document; ForcedBreak marks a break
    kirt::RowSplitter m_rows; // keeps a CR that ended the last row, for an LF that follows
    kirt::RowSplitter m_pendingRows; // the row rule at the end of the collected text
    std::uint32_t m_pendingEnds = 0; // rows the collected text ends
    bool m_pendingBlank = true;      // the collected text makes no character yet
    std::uint32_t m_pendingCut = 0;  // oldest rows counted as cut, to go with the next flush
    QTextCharFormat m_sentFormat;
    QTextCharFormat m_monitorFormat;
    // The parts of m_pending that are a monitor port's text: [start, end) in order.
    std::vector<std::pair<qsizetype, qsizetype>> m_pendingMonitor;
    bool m_scrollPending = false;
    bool m_batchSeen = false;    // a batch ended since the last refresh tick
    bool m_paintOverdue = false; // the tick came while batches flowed; the next batch paints
    QTimer* m_scrollTimer = nullptr;
    QElapsedTimer m_sinceFlush; // since collected text last went into the document
    Follow m_follow = Follow::Always;
    bool m_held = false;
    int m_ownScroll = 0; // scrolls and cursor moves made by the display, not the user
};

} // namespace kirt
