#include "ui/searchbar.h"

#include "display/textsearch.h"
#include "ui/receivedisplay.h"
#include "ui/searchtarget.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace kirt {

namespace {

// Rows searched beyond each edge of the view, so a match reaching into view is highlighted.
constexpr int HighlightMargin = 100;

// How soon rows that arrived are highlighted.
constexpr int NewRowsHighlightMs = 250;

const QColor HighlightColour(255, 235, 120);

// Rows joined into lines as the search reads them, with where rows only wrapped: there the
// document has a block separator that the text lacks.
struct JoinedRows
{
    QString text;
    int base = 0;                 // document position of the text's first character
    std::vector<qsizetype> wraps; // text offsets where a wrapped row ends

    // The document position of a text offset. The end of a match that ends with its row stays
    // on that row rather than going past the separator.
    int position(qsizetype offset, bool end) const
    {
        const auto before = end ? std::lower_bound(wraps.begin(), wraps.end(), offset)
                                : std::upper_bound(wraps.begin(), wraps.end(), offset);
        return base + static_cast<int>(offset + (before - wraps.begin()));
    }

    // The text offset of a document position; a wrapped row's separator counts as its end.
    qsizetype offset(int position) const
    {
        const qsizetype relative = std::max(position - base, 0);
        // The k-th separator stands at wraps[k] + k.
        std::size_t low = 0;
        std::size_t high = wraps.size();
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            if (wraps[mid] + static_cast<qsizetype>(mid) < relative)
                low = mid + 1;
            else
                high = mid;
        }
        return relative - static_cast<qsizetype>(low);
    }
};

JoinedRows joinRows(const QTextBlock& first, const QTextBlock& last)
{
    JoinedRows rows;
    rows.base = first.position();
    rows.text.reserve(last.position() + last.length() - first.position());
    ReceiveDisplay::forEachRowAsLine(first, last,
                                     [&rows, &last](const QTextBlock& row, bool lineBreak) {
                                         rows.text += row.text();
                                         if (lineBreak)
                                             rows.text += u'\n';
                                         else if (row != last)
                                             rows.wraps.push_back(rows.text.size());
                                     });
    return rows;
}

QTextCursor cursorOn(QTextDocument* document, const JoinedRows& rows, const TextMatch& match)
{
    QTextCursor cursor(document);
    cursor.setPosition(rows.position(match.start, false));
    cursor.setPosition(rows.position(match.start + match.length, true), QTextCursor::KeepAnchor);
    return cursor;
}

} // namespace

SearchBar::SearchBar(ReceiveDisplay* display, QWidget* parent) : SearchBar(display, nullptr, parent)
{
}

SearchBar::SearchBar(SearchTarget* target, QWidget* parent) : SearchBar(nullptr, target, parent) {}

SearchBar::SearchBar(ReceiveDisplay* display, SearchTarget* target, QWidget* parent)
    : QWidget(parent), m_display(display), m_target(target), m_edit(new QLineEdit(this)),
      m_next(new QPushButton(tr("Next"), this)), m_previous(new QPushButton(tr("Previous"), this)),
      m_case(new QCheckBox(tr("Match case"), this)), m_count(new QLabel(this)),
      m_highlightTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("SearchBar"));
    m_edit->setObjectName(QStringLiteral("SearchEdit"));
    m_next->setObjectName(QStringLiteral("SearchNextButton"));
    m_previous->setObjectName(QStringLiteral("SearchPreviousButton"));
    m_case->setObjectName(QStringLiteral("SearchCaseCheckBox"));
    m_count->setObjectName(QStringLiteral("SearchCountLabel"));
    m_edit->setClearButtonEnabled(true);
    // A click leaves the focus in the query, so Enter goes on stepping.
    for (QWidget* w : {static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_previous),
                       static_cast<QWidget*>(m_case)})
        w->setFocusPolicy(Qt::TabFocus);
    showCount(0, 0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 4, 2);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_next);
    layout->addWidget(m_previous);
    layout->addWidget(m_case);
    layout->addWidget(m_count);

    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textChanged, this, [this] { find(Step::First); });
    connect(m_case, &QCheckBox::toggled, this, [this] { find(Step::First); });
    connect(m_next, &QPushButton::clicked, this, &SearchBar::findNext);
    connect(m_previous, &QPushButton::clicked, this, &SearchBar::findPrevious);

    // Highlights follow the view at most once an event loop pass however far a drag scrolls,
    // and new rows a few times a second: each pass lays the rows in view out again, which a
    // stream refreshing thirty times a second would pay for with most of a core.
    m_highlightTimer->setSingleShot(true);
    connect(m_highlightTimer, &QTimer::timeout, this, &SearchBar::highlightInView);
    // Closed until asked for.
    hide();
    if (!m_display)
        return;
    connect(m_display->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &SearchBar::scheduleHighlight);
    connect(m_display->document(), &QTextDocument::contentsChanged, this, [this] {
        if (!isHidden() && !m_highlightTimer->isActive())
            m_highlightTimer->start(NewRowsHighlightMs);
    });
}

void SearchBar::setHexDisplay(bool hex)
{
    if (hex == m_hex)
        return;
    m_hex = hex;
    if (!isHidden())
        find(Step::Stay);
}

void SearchBar::openBar()
{
    show();
    m_edit->selectAll();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    find(Step::Stay);
}

void SearchBar::closeBar()
{
    if (isHidden())
        return;
    hide();
    if (m_target)
        m_target->searchWidget()->setFocus(Qt::OtherFocusReason);
    else
        m_display->setFocus(Qt::OtherFocusReason);
    emit closed();
}

void SearchBar::findNext()
{
    find(Step::Next);
}

void SearchBar::findPrevious()
{
    find(Step::Previous);
}

Qt::CaseSensitivity SearchBar::caseSensitivity() const
{
    return m_case->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

QTextCursor SearchBar::reference() const
{
    // A scroll to new data puts the display's caret at the end, off the current match: the
    // match, followed through the edits since, still counts then. A caret put anywhere else
    // (a click) is where the user goes on from.
    const QTextCursor shown = m_display->textCursor();
    if (!shown.hasSelection() && shown.atEnd() && m_current.hasSelection())
        return m_current;
    return shown;
}

void SearchBar::findInTarget(Step step)
{
    const QString text = m_target->searchText();
    const std::vector<TextMatch> matches =
        findMatches(text, m_edit->text(), false, caseSensitivity());
    const auto total = static_cast<qsizetype>(matches.size());
    scheduleHighlight();
    if (matches.empty()) {
        showCount(0, 0);
        return;
    }
    qsizetype index = 0;
    if (step != Step::First) {
        // Without a selection, Next starts at the top and Previous at the end.
        const std::optional<TextMatch> from = m_target->searchSelection();
        const qsizetype at = from ? from->start : 0;
        const auto byStart = [](const TextMatch& m, qsizetype offset) { return m.start < offset; };
        const auto lower = static_cast<qsizetype>(
            std::lower_bound(matches.begin(), matches.end(), at, byStart) - matches.begin());
        if (step == Step::Stay) {
            const bool onMatch =
                from && lower < total && matches[static_cast<std::size_t>(lower)] == *from;
            showCount(onMatch ? lower + 1 : 0, total);
            return;
        }
        if (step == Step::Next) {
            index = lower;
            if (from && index < total && matches[static_cast<std::size_t>(index)].start == at)
                ++index;
            if (index == total)
                index = 0;
        } else {
            index = from && lower > 0 ? lower - 1 : total - 1;
        }
    }
    m_target->selectFound(matches[static_cast<std::size_t>(index)]);
    showCount(index + 1, total);
}

void SearchBar::find(Step step)
{
    if (m_target) {
        findInTarget(step);
        return;
    }
    m_display->flushPending();
    QTextDocument* document = m_display->document();
    const JoinedRows rows = joinRows(document->begin(), document->lastBlock());
    const std::vector<TextMatch> matches =
        findMatches(rows.text, m_edit->text(), m_hex, caseSensitivity());
    const auto total = static_cast<qsizetype>(matches.size());
    scheduleHighlight();
    if (matches.empty()) {
        m_current = QTextCursor();
        if (step != Step::Stay) {
            QTextCursor caret = m_display->textCursor();
            caret.clearSelection();
            m_display->setTextCursor(caret);
        }
        showCount(0, 0);
        return;
    }

    qsizetype index = 0;
    if (step != Step::First) {
        const QTextCursor from = reference();
        const qsizetype at = rows.offset(from.selectionStart());
        const auto byStart = [](const TextMatch& m, qsizetype offset) { return m.start < offset; };
        const auto lower = static_cast<qsizetype>(
            std::lower_bound(matches.begin(), matches.end(), at, byStart) - matches.begin());
        if (step == Step::Stay) {
            const qsizetype length = rows.offset(from.selectionEnd()) - at;
            const bool onMatch = from.hasSelection() && lower < total &&
                                 matches[static_cast<std::size_t>(lower)] == TextMatch{at, length};
            showCount(onMatch ? lower + 1 : 0, total);
            return;
        }
        if (step == Step::Next) {
            // From a match, the one after it; from a caret, the first at or after it.
            index = lower;
            if (from.hasSelection() && index < total &&
                matches[static_cast<std::size_t>(index)].start == at)
                ++index;
            if (index == total)
                index = 0;
        } else {
            index = lower > 0 ? lower - 1 : total - 1;
        }
    }

    const QTextCursor cursor = cursorOn(document, rows, matches[static_cast<std::size_t>(index)]);
    m_display->setTextCursor(cursor);
    m_display->ensureCursorVisible();
    m_current = cursor;
    showCount(index + 1, total);
}

void SearchBar::showCount(qsizetype index, qsizetype total)
{
    m_count->setText(tr("%1 of %2").arg(index).arg(total));
}

void SearchBar::scheduleHighlight()
{
    if (!isHidden() && (!m_highlightTimer->isActive() || m_highlightTimer->remainingTime() > 0))
        m_highlightTimer->start(0);
}

void SearchBar::highlightInView()
{
    if (m_target) {
        m_target->setSearchHighlight(isHidden() ? QString() : m_edit->text(), caseSensitivity());
        return;
    }
    QList<QTextEdit::ExtraSelection> selections;
    const QString query = m_edit->text();
    if (!isHidden() && !query.isEmpty()) {
        QTextBlock first = m_display->cursorForPosition(QPoint(0, 0)).block();
        QTextBlock last =
            m_display->cursorForPosition(QPoint(0, m_display->viewport()->height())).block();
        for (int i = 0; i < HighlightMargin && first.previous().isValid(); ++i)
            first = first.previous();
        for (int i = 0; i < HighlightMargin && last.next().isValid(); ++i)
            last = last.next();
        // Whole lines, so a line is searched as it is in the full search.
        while (first.previous().isValid() && ReceiveDisplay::isWrappedRow(first.previous()))
            first = first.previous();
        while (last.next().isValid() && ReceiveDisplay::isWrappedRow(last))
            last = last.next();
        const JoinedRows rows = joinRows(first, last);
        QTextCharFormat format;
        format.setBackground(HighlightColour);
        for (const TextMatch& match : findMatches(rows.text, query, m_hex, caseSensitivity()))
            selections.append({cursorOn(m_display->document(), rows, match), format});
    }
    m_display->setExtraSelections(selections);
}

void SearchBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    scheduleHighlight();
}

void SearchBar::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_highlightTimer->stop();
    if (m_target)
        m_target->setSearchHighlight({}, caseSensitivity());
    else
        m_display->setExtraSelections({});
}

bool SearchBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_edit ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool escape = key->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
    if (!escape && !(enter && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)))
        return false;
    // The keys belong to the bar while its query has the focus, before any shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (escape)
        closeBar();
    else if (modifiers == Qt::ShiftModifier)
        findPrevious();
    else
        findNext();
    return true;
}

} // namespace kirt
