#include "ui/terminalscreen.h"

#include "ui/caretblink.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>

namespace kirt {

namespace {

const QColor FoundColour(255, 235, 120);

} // namespace

TerminalScreen::TerminalScreen(QWidget* parent)
    : QAbstractScrollArea(parent), m_emulator(std::make_unique<TerminalEmulator>())
{
    setObjectName(QStringLiteral("TerminalScreen"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setTerminalFont(font);
    setColours(Qt::black, Qt::white);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &TerminalScreen::refresh);
    connect(&m_blink, &QTimer::timeout, this, &TerminalScreen::blink);
    // The window's CaretBlink rests every caret by a flash time of 0; this one rests with them.
    connect(QGuiApplication::styleHints(), &QStyleHints::cursorFlashTimeChanged, this,
            [this] { wakeCursor(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (m_ownScroll > 0)
            return;
        m_follow = value >= verticalScrollBar()->maximum();
        m_heldTop = m_emulator->firstLine() + value;
    });
    updateScrollBar();
}

TerminalScreen::~TerminalScreen() = default;

void TerminalScreen::setOptions(const TerminalOptions& options)
{
    m_options = options;
    m_emulator->setUtf8(options.encoding == TerminalOptions::Encoding::Utf8);
    m_emulator->setScrollbackLimit(options.scrollbackLines);
    afterFeed();
}

void TerminalScreen::setColours(const QColor& foreground, const QColor& background)
{
    m_emulator->setDefaultColours(foreground.rgb() & 0xffffff, background.rgb() & 0xffffff);
    viewport()->update();
}

void TerminalScreen::setTerminalFont(const QFont& font)
{
    for (int i = 0; i < 4; ++i) {
        m_fonts[i] = font;
        m_fonts[i].setBold((i & 1) != 0);
        m_fonts[i].setItalic((i & 2) != 0);
        m_fonts[i].setKerning(false);
    }
    const QFontMetrics metrics(m_fonts[0]);
    m_cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_cellHeight = std::max(1, metrics.height());
    m_ascent = metrics.ascent();
    verticalScrollBar()->setSingleStep(1);
    if (m_fit)
        fit();
    updateGeometry();
    viewport()->update();
}

QSize TerminalScreen::sizeHint() const
{
    const QMargins m = contentsMargins();
    return {m_emulator->cols() * m_cellWidth + verticalScrollBar()->sizeHint().width() + m.left() +
                m.right(),
            m_emulator->rows() * m_cellHeight + m.top() + m.bottom()};
}

void TerminalScreen::setTerminalSize(int rows, int cols)
{
    m_fit = false;
    applySize(rows, cols);
}

void TerminalScreen::setFitToWidget(bool fit)
{
    m_fit = fit;
    if (fit)
        this->fit();
}

void TerminalScreen::fit()
{
    applySize(viewport()->height() / m_cellHeight, viewport()->width() / m_cellWidth);
}

void TerminalScreen::applySize(int rows, int cols)
{
    rows = std::max(rows, 1);
    cols = std::max(cols, 1);
    if (rows == m_emulator->rows() && cols == m_emulator->cols())
        return;
    m_emulator->resize(rows, cols);
    afterFeed();
    updateGeometry();
    emit sizeChanged(m_emulator->rows(), m_emulator->cols());
}

void TerminalScreen::received(const std::uint8_t* bytes, std::size_t count, const ReadTime&)
{
    m_emulator->feed(bytes, count);
    afterFeed();
}

void TerminalScreen::feed(const QByteArray& bytes)
{
    m_emulator->feed(bytes);
    afterFeed();
}

void TerminalScreen::afterFeed()
{
    const QByteArray answers = m_emulator->takeAnswers();
    if (!answers.isEmpty())
        emit bytesToSend(answers);
    if (m_emulator->generation() != m_paintedGeneration && !m_refresh.isActive())
        m_refresh.start();
}

void TerminalScreen::refresh()
{
    m_refresh.stop();
    updateScrollBar();
    viewport()->update();
}

void TerminalScreen::flushPaint()
{
    refresh();
    viewport()->repaint();
}

void TerminalScreen::clearTerminal()
{
    m_emulator->clear();
    clearSelection();
    m_follow = true;
    afterFeed();
}

std::int64_t TerminalScreen::viewTop() const
{
    const std::int64_t newest = m_emulator->screenTop();
    if (m_follow)
        return newest;
    return std::clamp(m_heldTop, m_emulator->firstLine(), newest);
}

void TerminalScreen::updateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    ++m_ownScroll;
    bar->setRange(0, m_emulator->scrollbackCount());
    bar->setPageStep(m_emulator->rows());
    bar->setValue(static_cast<int>(viewTop() - m_emulator->firstLine()));
    --m_ownScroll;
}

void TerminalScreen::scrollLines(int delta)
{
    const std::int64_t top =
        std::clamp(viewTop() + delta, m_emulator->firstLine(), m_emulator->screenTop());
    m_follow = top >= m_emulator->screenTop();
    m_heldTop = top;
    refresh();
}

void TerminalScreen::scrollToEnd()
{
    m_follow = true;
    refresh();
}

void TerminalScreen::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TerminalScreen::send(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    emit bytesToSend(bytes);
    if (m_options.localEcho) {
        // An echoed Enter starts a new line whatever the line end sent.
        const bool enter = bytes == "\r" || bytes == "\n" || bytes == "\r\n";
        feed(enter ? QByteArrayLiteral("\r\n") : bytes);
    }
}

bool TerminalScreen::focusNextPrevChild(bool)
{
    return false; // Tab belongs to the board
}

bool TerminalScreen::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Every key is the view's, before any shortcut of the window.
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TerminalScreen::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    wakeCursor();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (mods == Qt::ShiftModifier && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        const int page = std::max(m_emulator->rows() - 1, 1);
        scrollLines(key == Qt::Key_PageUp ? -page : page);
        return;
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
        switch (key) {
        case Qt::Key_C:
            copy();
            return;
        case Qt::Key_V:
            paste();
            return;
        case Qt::Key_A:
            selectAll();
            return;
        case Qt::Key_F:
            emit findRequested();
            return;
        default:
            break;
        }
        if (key >= Qt::Key_F1 && key <= Qt::Key_F10) {
            emit windowKey(key - Qt::Key_F1 + 1);
            return;
        }
    }
    const QByteArray bytes =
        m_emulator->keyBytes(key, event->modifiers(), event->text(), m_options);
    if (bytes.isEmpty())
        return;
    if (!m_follow)
        scrollToEnd();
    send(bytes);
}

void TerminalScreen::selectAll()
{
    m_selStart = {m_emulator->firstLine(), 0};
    m_selEnd = {m_emulator->endLine(), 0};
    viewport()->update();
}

void TerminalScreen::clearSelection()
{
    m_selStart = m_selEnd = {};
    viewport()->update();
}

QString TerminalScreen::selectedText() const
{
    return hasSelection() ? m_emulator->text(m_selStart, m_selEnd) : QString();
}

void TerminalScreen::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TerminalScreen::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        send(m_emulator->pasteBytes(text, m_options));
}

TerminalPos TerminalScreen::placeAt(const QPoint& point) const
{
    const int row = std::clamp(point.y() / m_cellHeight, 0, m_emulator->rows() - 1);
    const int col = std::clamp((point.x() + m_cellWidth / 2) / m_cellWidth, 0, m_emulator->cols());
    return {viewTop() + row, col};
}

void TerminalScreen::mousePressEvent(QMouseEvent* event)
{
    wakeCursor();
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    m_selAnchor = placeAt(event->position().toPoint());
    m_selStart = m_selEnd = m_selAnchor;
    m_selecting = true;
    viewport()->update();
}

void TerminalScreen::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting)
        return;
    const TerminalPos at = placeAt(event->position().toPoint());
    m_selStart = std::min(at, m_selAnchor);
    m_selEnd = std::max(at, m_selAnchor);
    viewport()->update();
}

void TerminalScreen::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_selecting || event->button() != Qt::LeftButton)
        return;
    m_selecting = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TerminalScreen::wheelEvent(QWheelEvent* event)
{
    m_wheelAngle += event->angleDelta().y();
    const int steps = m_wheelAngle / 120;
    m_wheelAngle -= steps * 120;
    if (steps != 0)
        scrollLines(-steps * WheelLines);
    event->accept();
}

void TerminalScreen::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_fit)
        fit();
}

void TerminalScreen::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    wakeCursor();
}

void TerminalScreen::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_cursorOn = true;
    viewport()->update();
}

void TerminalScreen::wakeCursor()
{
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    m_cursorOn = true;
    if (flash <= 0 || !hasFocus()) {
        m_blink.stop();
    } else {
        m_blink.start(flash / 2);
        m_blinksLeft = CaretBlink::RestAfterMs / std::max(flash / 2, 1);
    }
    viewport()->update();
}

void TerminalScreen::blink()
{
    // After a while without a key the cursor rests, shown, and no timer runs.
    if (--m_blinksLeft <= 0) {
        m_blink.stop();
        m_cursorOn = true;
    } else {
        m_cursorOn = !m_cursorOn;
    }
    viewport()->update();
}

QString TerminalScreen::searchText()
{
    m_searched = m_emulator->searchableText();
    return m_searched.text;
}

std::optional<TextMatch> TerminalScreen::searchSelection() const
{
    if (!hasSelection())
        return std::nullopt;
    const qsizetype start = m_searched.offsetOf(m_selStart);
    return TextMatch{start, m_searched.offsetOf(m_selEnd) - start};
}

void TerminalScreen::selectFound(const TextMatch& match)
{
    const auto at = [this](qsizetype i) { return m_searched.places[static_cast<std::size_t>(i)]; };
    if (match.length <= 0 || match.start + match.length > m_searched.text.size())
        return;
    m_selStart = at(match.start);
    m_selEnd = at(match.start + match.length - 1);
    ++m_selEnd.col;
    // Into view: the newest screen when it is there, else with the match on the top row.
    const std::int64_t top = viewTop();
    if (m_selStart.line < top || m_selStart.line >= top + m_emulator->rows()) {
        m_follow = m_selStart.line >= m_emulator->screenTop();
        m_heldTop = m_selStart.line;
    }
    refresh();
}

void TerminalScreen::setSearchHighlight(const QString& query, Qt::CaseSensitivity caseSensitivity)
{
    m_highlight = query;
    m_highlightCase = caseSensitivity;
    viewport()->update();
}

std::vector<std::vector<bool>> TerminalScreen::highlightedCells(std::int64_t top, int rows) const
{
    std::vector<std::vector<bool>> found(
        static_cast<std::size_t>(rows),
        std::vector<bool>(static_cast<std::size_t>(m_emulator->cols() + 1), false));
    // Whole lines, so a match across a wrap is found as the full search finds it.
    std::int64_t first = top;
    while (first > m_emulator->firstLine() && m_emulator->lineWraps(first - 1))
        --first;
    std::int64_t end = std::min(top + rows, m_emulator->endLine());
    while (end < m_emulator->endLine() && m_emulator->lineWraps(end - 1))
        ++end;
    const TerminalText shown = m_emulator->linesText(first, end);
    for (const TextMatch& m : findMatches(shown.text, m_highlight, false, m_highlightCase)) {
        for (qsizetype i = m.start; i < m.start + m.length; ++i) {
            const TerminalPos p = shown.places[static_cast<std::size_t>(i)];
            const std::int64_t row = p.line - top;
            if (row >= 0 && row < rows && p.col <= m_emulator->cols())
                found[static_cast<std::size_t>(row)][static_cast<std::size_t>(p.col)] = true;
        }
    }
    return found;
}

QColor TerminalScreen::colour(std::uint32_t rgb, bool foreground) const
{
    if (rgb == TerminalCell::DefaultColour)
        rgb = foreground ? m_emulator->defaultForeground() : m_emulator->defaultBackground();
    return QColor::fromRgb(static_cast<QRgb>(rgb) | 0xff000000u);
}

void TerminalScreen::paintEvent(QPaintEvent*)
{
    m_paintedGeneration = m_emulator->generation();
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), colour(TerminalCell::DefaultColour, false));
    const std::int64_t top = viewTop();
    const int rows = m_emulator->rows();
    std::vector<std::vector<bool>> found;
    if (!m_highlight.isEmpty())
        found = highlightedCells(top, rows);
    std::vector<TerminalCell> cells;
    for (int row = 0; row < rows; ++row) {
        const std::int64_t line = top + row;
        if (line >= m_emulator->endLine())
            break;
        m_emulator->lineCells(line, cells);
        paintRow(painter, row * m_cellHeight, line, cells,
                 found.empty() ? nullptr : &found[static_cast<std::size_t>(row)]);
    }

    // The cursor, where the board put it, on the newest screen.
    const std::int64_t cursorLine = m_emulator->screenTop() + m_emulator->cursorRow();
    if (m_emulator->cursorVisible() && cursorLine >= top && cursorLine < top + rows) {
        const QRect box(m_emulator->cursorCol() * m_cellWidth,
                        static_cast<int>(cursorLine - top) * m_cellHeight, m_cellWidth,
                        m_cellHeight);
        const QColor fg = colour(TerminalCell::DefaultColour, true);
        if (!hasFocus()) {
            painter.setPen(fg);
            painter.drawRect(box.adjusted(0, 0, -1, -1));
        } else if (m_cursorOn) {
            painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter.fillRect(box, Qt::white);
        }
    }
}

void TerminalScreen::paintRow(QPainter& painter, int y, std::int64_t line,
                              const std::vector<TerminalCell>& cells,
                              const std::vector<bool>* found)
{
    const auto selected = [this, line](int col) {
        const TerminalPos p{line, col};
        return hasSelection() && m_selStart <= p && p < m_selEnd;
    };
    const int count = static_cast<int>(cells.size());
    QString run;
    int col = 0;
    while (col < count) {
        // A run of cells that look the same and are one column wide each.
        const TerminalCell& first = cells[static_cast<std::size_t>(col)];
        const bool sel = selected(col);
        const bool hit = found && (*found)[static_cast<std::size_t>(col)];
        int end = col + 1;
        if (first.width == 1) {
            while (end < count) {
                const TerminalCell& c = cells[static_cast<std::size_t>(end)];
                if (c.width != 1 || !c.sameLook(first) || selected(end) != sel ||
                    (found && (*found)[static_cast<std::size_t>(end)] != hit))
                    break;
                ++end;
            }
        }
        QColor fg = colour(first.fg, true);
        QColor bg = colour(first.bg, false);
        if (first.reverse != sel)
            std::swap(fg, bg);
        if (hit && !sel) {
            bg = FoundColour;
            fg = Qt::black;
        }
        const int width = first.width == 2 ? 2 : end - col;
        const QRect rect(col * m_cellWidth, y, width * m_cellWidth, m_cellHeight);
        if (bg != colour(TerminalCell::DefaultColour, false))
            painter.fillRect(rect, bg);
        run.clear();
        bool ink = false;
        for (int i = col; i < end; ++i) {
            const char32_t ch = cells[static_cast<std::size_t>(i)].ch;
            const char32_t shown = ch == 0 || ch == TerminalCell::WideTail ? U' ' : ch;
            ink = ink || shown != U' ';
            run += QString::fromUcs4(&shown, 1);
        }
        if (ink) {
            painter.setFont(m_fonts[(first.bold ? 1 : 0) | (first.italic ? 2 : 0)]);
            painter.setPen(fg);
            painter.drawText(QPointF(rect.left(), y + m_ascent), run);
        }
        if (first.underline) {
            painter.setPen(fg);
            painter.drawLine(rect.left(), y + m_ascent + 1, rect.right(), y + m_ascent + 1);
        }
        col = first.width == 2 ? col + 2 : end;
    }
    // A selection goes on past the last cell of a line to the line's end.
    if (count < m_emulator->cols() && selected(count))
        painter.fillRect(
            QRect(count * m_cellWidth, y, (m_emulator->cols() - count) * m_cellWidth, m_cellHeight),
            colour(TerminalCell::DefaultColour, true));
}

} // namespace kirt
