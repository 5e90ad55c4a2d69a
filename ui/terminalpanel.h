#pragma once

#include "terminal/terminalemulator.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace kirt {

class SearchBar;
class TerminalScreen;

// The terminal view as the window shows it: a bar with the size box ("80x24", "132x43",
// "Fit"), the size in use and CLEAR, the screen, and the search bar the display has.
class TerminalPanel : public QWidget
{
    Q_OBJECT

public:
    explicit TerminalPanel(QWidget* parent = nullptr);

    TerminalScreen* screen() const { return m_screen; }
    SearchBar* searchBar() const { return m_search; }

    const TerminalOptions& options() const;
    void setOptions(const TerminalOptions& options);
    void setColours(const QColor& foreground, const QColor& background);

public slots:
    // Shows the search bar with its query focused.
    void openSearch();
    // Clears the terminal, scroll-back too.
    void clearTerminal();

private:
    void sizeChosen(int index);
    void showSize(int rows, int cols);

    QComboBox* m_size;
    QLabel* m_sizeLabel;
    QPushButton* m_clear;
    TerminalScreen* m_screen;
    SearchBar* m_search;
};

} // namespace kirt
