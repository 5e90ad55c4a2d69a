#pragma once

#include <QTextCursor>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kirt {

class ReceiveDisplay;
class SearchTarget;

// Find in the receive display, or in another view through its SearchTarget. Typing searches from
// the top; Next and Previous search the display afresh each time, since received rows keep arriving
// and the oldest are cut, and step from the current match, which is the display's selection. The
// matches in view are highlighted while the bar is open. It starts hidden.
class SearchBar : public QWidget
{
    Q_OBJECT

public:
    explicit SearchBar(ReceiveDisplay* display, QWidget* parent = nullptr);
    // The same bar for a view that gives its text through the interface (the terminal).
    explicit SearchBar(SearchTarget* target, QWidget* parent = nullptr);

    // A HEX display lets a query of hex digits find whole bytes.
    void setHexDisplay(bool hex);
    bool hexDisplay() const { return m_hex; }

public slots:
    // Shows the bar with the query selected and focused, its matches highlighted again.
    void openBar();
    // Hides the bar, drops the highlights, gives the focus back to the display and emits
    // closed(); nothing when the bar is hidden already.
    void closeBar();
    void findNext();
    void findPrevious();

signals:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Step {
        First,    // the first match in the display
        Next,     // the match after the current one, round to the first
        Previous, // the match before the current one, round to the last
        Stay,     // the current match kept, only counted again
    };

    SearchBar(ReceiveDisplay* display, SearchTarget* target, QWidget* parent);
    void find(Step step);
    void findInTarget(Step step);
    void showCount(qsizetype index, qsizetype total);
    void scheduleHighlight();
    void highlightInView();
    Qt::CaseSensitivity caseSensitivity() const;
    // Where Next and Previous step from.
    QTextCursor reference() const;

    ReceiveDisplay* m_display;
    SearchTarget* m_target;
    QLineEdit* m_edit;
    QPushButton* m_next;
    QPushButton* m_previous;
    QCheckBox* m_case;
    QLabel* m_count;
    QTimer* m_highlightTimer;
    QTextCursor m_current; // follows the document's edits, so a cut above keeps it in place
    bool m_hex = false;
};

} // namespace kirt
