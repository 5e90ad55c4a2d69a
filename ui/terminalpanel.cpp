#include "ui/terminalpanel.h"

#include "ui/searchbar.h"
#include "ui/terminalscreen.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kirt {

namespace {

struct SizeChoice
{
    const char* name;
    int rows; // 0: fit the widget
    int cols;
};

// A serial line cannot tell the board the window's size: the board is told with stty, and
// these are the sizes a board is most often set to.
constexpr SizeChoice SizeChoices[] = {{"80x24", 24, 80}, {"132x43", 43, 132}, {"Fit", 0, 0}};

} // namespace

TerminalPanel::TerminalPanel(QWidget* parent)
    : QWidget(parent), m_size(new QComboBox(this)), m_sizeLabel(new QLabel(this)),
      m_clear(new QPushButton(tr("CLEAR"), this)), m_screen(new TerminalScreen(this)),
      m_search(new SearchBar(static_cast<SearchTarget*>(m_screen), this))
{
    setObjectName(QStringLiteral("TerminalPanel"));
    m_size->setObjectName(QStringLiteral("TerminalSizeComboBox"));
    m_sizeLabel->setObjectName(QStringLiteral("TerminalSizeLabel"));
    m_clear->setObjectName(QStringLiteral("TerminalClearButton"));
    for (const SizeChoice& choice : SizeChoices)
        m_size->addItem(QString::fromLatin1(choice.name));
    // The keys stay with the screen: the bar is worked with the mouse.
    m_size->setFocusPolicy(Qt::NoFocus);
    m_clear->setFocusPolicy(Qt::NoFocus);
    m_size->setToolTip(tr("Terminal size; tell the board with: stty rows R cols C"));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(m_size);
    bar->addWidget(m_sizeLabel);
    bar->addStretch(1);
    bar->addWidget(m_clear);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(bar);
    layout->addWidget(m_screen, 1);
    layout->addWidget(m_search);
    setFocusProxy(m_screen);

    connect(m_size, &QComboBox::currentIndexChanged, this, &TerminalPanel::sizeChosen);
    connect(m_clear, &QPushButton::clicked, this, &TerminalPanel::clearTerminal);
    connect(m_screen, &TerminalScreen::sizeChanged, this, &TerminalPanel::showSize);
    connect(m_screen, &TerminalScreen::findRequested, this, &TerminalPanel::openSearch);
    showSize(m_screen->emulator().rows(), m_screen->emulator().cols());
}

const TerminalOptions& TerminalPanel::options() const
{
    return m_screen->options();
}

void TerminalPanel::setOptions(const TerminalOptions& options)
{
    m_screen->setOptions(options);
}

void TerminalPanel::setColours(const QColor& foreground, const QColor& background)
{
    m_screen->setColours(foreground, background);
}

void TerminalPanel::openSearch()
{
    m_search->openBar();
}

void TerminalPanel::clearTerminal()
{
    m_screen->clearTerminal();
}

void TerminalPanel::sizeChosen(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(SizeChoices)))
        return;
    const SizeChoice& choice = SizeChoices[index];
    if (choice.rows == 0)
        m_screen->setFitToWidget(true);
    else
        m_screen->setTerminalSize(choice.rows, choice.cols);
}

void TerminalPanel::showSize(int rows, int cols)
{
    m_sizeLabel->setText(QStringLiteral("%1x%2").arg(cols).arg(rows));
}

} // namespace kirt
