#pragma once

#include <QPlainTextEdit>

#include <cstdint>

class QTimer;

namespace kirt {

// The receive display. Each displayed row is one block of the document: text that runs past
// the right edge is split into further blocks marked as wrapped, so appending and cutting
// rows stay cheap however long a line grows, and the row count is the block count. The text
// of the display (for saving, printing and copying) joins wrapped rows again.
class ReceiveDisplay : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveDisplay(QWidget* parent = nullptr);

    // Appends text at the end; "\r", "\n" and "\r\n" end the line. The text is collected
    // and put into the document in one edit when the display is next read or flushed, since
    // an edit of the document costs far more than a byte.
    void appendData(const QString& text);
    // Appends one line break.
    void appendLineBreak();
    // Puts collected text into the document.
    void flushPending();
    // Replaces everything (a loaded file); its line breaks are kept.
    void setDisplayText(const QString& text);
    void clearDisplay();

    // The display's text with lines joined where they only wrapped; lines end in "\n".
    QString displayText() const;
    bool isEmpty() const;

    // Displayed rows; the empty row after a final line break does not count.
    std::uint32_t rowCount() const;
    // Cuts the oldest rows until at most limit remain; returns how many went.
    std::uint32_t trimToRows(std::uint32_t limit);
    int columns() const { return m_columns; }

    // Caret to the end and into view; done at most a few dozen times a second, since a
    // scroll and repaint per byte would cost far more than the byte.
    void scrollToEnd();
    // Runs a pending scroll and repaint now.
    void flushScroll();

signals:
    // The text was re-laid out after a width change; the owner re-applies its line limit.
    void rowsReflowed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    static constexpr int RefreshMs = 30;

    void holdRepaint();
    int columnsForWidth() const;
    void reflow();
    void insertWrapped(QTextCursor& cursor, const QString& text);
    void insertData(const QString& text);
    void insertLineBreak();

    int m_columns = 80;
    QString m_pending; // appended text not yet in the document; ForcedBreak marks a break
    bool m_scrollPending = false;
    bool m_pendingCr = false; // a CR ended the last line; an LF right after it adds nothing
    QTimer* m_scrollTimer = nullptr;
};

} // namespace kirt
