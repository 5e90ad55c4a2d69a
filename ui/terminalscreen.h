#pragma once

#include "session/portcontroller.h"
#include "terminal/terminalemulator.h"
#include "ui/searchtarget.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QTimer>

#include <memory>

namespace kirt {

// The terminal view: draws a TerminalEmulator's cells and sends every key to the board.
// Received bytes are fed at once; the view is repainted at most once a refresh period while
// they flow, and nothing runs while the line is quiet (the cursor stops blinking after a
// while without a key, as the display's caret does).
//
// Keys kept by the view: Shift+PgUp/PgDn scroll, Ctrl+Shift+C copy, Ctrl+Shift+V paste,
// Ctrl+Shift+A select all, Ctrl+Shift+F asks for the search bar (findRequested) and
// Ctrl+Shift+F1..F10 are handed to the window (windowKey). Every other key, Tab, Alt and the
// window's shortcuts included, goes to the board (bytesToSend).
class TerminalScreen : public QAbstractScrollArea, public PortReceiver, public SearchTarget
{
    Q_OBJECT

public:
    static constexpr int RefreshMs = 20;
    static constexpr int WheelLines = 3;

    explicit TerminalScreen(QWidget* parent = nullptr);
    ~TerminalScreen() override;

    TerminalEmulator& emulator() { return *m_emulator; }
    const TerminalEmulator& emulator() const { return *m_emulator; }

    const TerminalOptions& options() const { return m_options; }
    void setOptions(const TerminalOptions& options);
    // The default foreground and background (the display's colour setting).
    void setColours(const QColor& foreground, const QColor& background);
    void setTerminalFont(const QFont& font);
    QSize cellSize() const { return {m_cellWidth, m_cellHeight}; }

    // A fixed size, or the size that fills the widget, following its resizes.
    void setTerminalSize(int rows, int cols);
    void setFitToWidget(bool fit);
    bool fitToWidget() const { return m_fit; }

    // PortReceiver: called on the window's thread.
    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) override;
    void feed(const QByteArray& bytes);
    // Drops scroll-back and screen.
    void clearTerminal();
    // Paints what is pending now instead of at the next refresh.
    void flushPaint();

    void selectAll();
    void clearSelection();
    bool hasSelection() const { return m_selStart != m_selEnd; }
    QString selectedText() const;
    void copy();
    void paste();

    // The view shows the newest lines and follows new output.
    bool following() const { return m_follow; }
    // The first line in view (in the emulator's numbering).
    std::int64_t viewTop() const;
    void scrollLines(int delta);
    void scrollToEnd();

    // SearchTarget
    QWidget* searchWidget() override { return this; }
    QString searchText() override;
    std::optional<TextMatch> searchSelection() const override;
    void selectFound(const TextMatch& match) override;
    void setSearchHighlight(const QString& query, Qt::CaseSensitivity caseSensitivity) override;

    QSize sizeHint() const override;

signals:
    void bytesToSend(const QByteArray& bytes);
    void findRequested();
    // Ctrl+Shift+F1..F10: the window does what F1..F10 do elsewhere.
    void windowKey(int n);
    void sizeChanged(int rows, int cols);

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void send(const QByteArray& bytes);
    void afterFeed();
    void refresh();
    void updateScrollBar();
    void fit();
    void applySize(int rows, int cols);
    TerminalPos placeAt(const QPoint& point) const;
    void wakeCursor();
    void blink();
    void paintRow(QPainter& painter, int y, std::int64_t line,
                  const std::vector<TerminalCell>& cells, const std::vector<bool>* found);
    std::vector<std::vector<bool>> highlightedCells(std::int64_t top, int rows) const;
    QColor colour(std::uint32_t rgb, bool foreground) const;

    std::unique_ptr<TerminalEmulator> m_emulator;
    TerminalOptions m_options;
    QFont m_fonts[4]; // plain, bold, italic, bold italic
    int m_cellWidth = 8;
    int m_cellHeight = 16;
    int m_ascent = 12;
    bool m_fit = false;

    QTimer m_refresh;
    std::uint64_t m_paintedGeneration = 0;
    bool m_follow = true;
    std::int64_t m_heldTop = 0; // the first line in view while not following
    int m_ownScroll = 0;

    QTimer m_blink;
    bool m_cursorOn = true;
    int m_blinksLeft = 0;

    TerminalPos m_selStart;
    TerminalPos m_selEnd;
    TerminalPos m_selAnchor;
    bool m_selecting = false;
    TerminalText m_searched; // the text the search bar's offsets refer to
    QString m_highlight;
    Qt::CaseSensitivity m_highlightCase = Qt::CaseInsensitive;
    int m_wheelAngle = 0;
};

} // namespace kirt
