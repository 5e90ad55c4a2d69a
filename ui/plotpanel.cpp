#include "ui/plotpanel.h"

#include "plot/plotfeed.h"
#include "plot/plotview.h"

#include <QBuffer>
#include <QComboBox>
#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <cmath>

namespace kirt {

// Ticks of values drawn in units of a power of ten, labelled with what they stand for.
class ScaledTicker final : public QCPAxisTicker
{
public:
    double scale = 1;

protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override
    {
        return QCPAxisTicker::getTickLabel(tick * scale, locale, formatChar, precision);
    }
};

namespace {

const QColor SeriesColours[] = {
    Qt::blue,          Qt::red,   Qt::darkGreen,       Qt::magenta,         Qt::darkCyan,
    Qt::darkYellow,    Qt::black, Qt::darkRed,         Qt::darkBlue,        Qt::darkMagenta,
    Qt::gray,          Qt::green, QColor(255, 128, 0), QColor(128, 0, 255), QColor(0, 128, 128),
    QColor(128, 64, 0)};

// The samples or seconds the window shows; 0 for all.
double windowSpan(const QComboBox* box)
{
    return box->currentIndex() == 3 ? 0.0 : std::pow(10.0, box->currentIndex() + 2);
}

} // namespace

PlotPanel::PlotPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PlotPanel"));
    auto* bar = new QHBoxLayout;
    const auto button = [&](const char* name, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        bar->addWidget(b);
        return b;
    };
    const auto box = [&](const char* name, const QStringList& items) {
        auto* b = new QComboBox(this);
        b->setObjectName(QString::fromLatin1(name));
        b->addItems(items);
        bar->addWidget(b);
        return b;
    };
    m_pause = button("PlotPauseButton", "PAUSE");
    QPushButton* clear = button("PlotClearButton", "CLEAR");
    m_x = box("PlotXComboBox", {QStringLiteral("Samples"), QStringLiteral("Time")});
    m_window = box("PlotWindowComboBox", {QStringLiteral("100"), QStringLiteral("1000"),
                                          QStringLiteral("10000"), QStringLiteral("All")});
    m_window->setCurrentIndex(1);
    m_y = box("PlotYComboBox", {QStringLiteral("Auto"), QStringLiteral("Fixed")});
    for (QLineEdit** edit : {&m_yMin, &m_yMax}) {
        *edit = new QLineEdit(this);
        (*edit)->setValidator(new QDoubleValidator(*edit));
        (*edit)->setMaximumWidth(80);
        bar->addWidget(*edit);
    }
    m_yMin->setObjectName(QStringLiteral("PlotYMinEdit"));
    m_yMax->setObjectName(QStringLiteral("PlotYMaxEdit"));
    m_yMin->setText(QStringLiteral("-1"));
    m_yMax->setText(QStringLiteral("1"));
    m_skipped = new QLabel(QStringLiteral("skipped: 0"), this);
    m_skipped->setObjectName(QStringLiteral("PlotSkippedLabel"));
    bar->addWidget(m_skipped);
    bar->addStretch(1);
    // Below the plot, the width of the view: sixteen readings do not fit beside the controls.
    m_cursor = new QLabel(this);
    m_cursor->setObjectName(QStringLiteral("PlotCursorLabel"));
    m_cursor->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QPushButton* exportButton = button("PlotExportButton", "EXPORT");

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("PlotArea"));
    m_plot->legend->setVisible(true);
    m_plot->setInteraction(QCP::iSelectLegend, false);
    m_yTicker = QSharedPointer<ScaledTicker>::create();
    m_plot->yAxis->setTicker(m_yTicker);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_cursor);

    m_tick = new QTimer(this);
    m_tick->setInterval(RedrawMs);
    connect(m_tick, &QTimer::timeout, this, [this] {
        if (m_feed && m_feed->generation() == m_drawnGeneration)
            m_tick->stop(); // nothing new since the last tick
        redraw();
    });
    connect(m_pause, &QPushButton::clicked, this, &PlotPanel::togglePause);
    connect(clear, &QPushButton::clicked, this, &PlotPanel::clearPlot);
    connect(exportButton, &QPushButton::clicked, this, &PlotPanel::exportRequested);
    for (QComboBox* b : {m_x, m_window, m_y})
        connect(b, &QComboBox::currentIndexChanged, this, &PlotPanel::rebuild);
    for (QLineEdit* e : {m_yMin, m_yMax})
        connect(e, &QLineEdit::editingFinished, this, [this] {
            // In the user's locale, as the validator reads them.
            bool ok = false;
            if (const double v = locale().toDouble(m_yMin->text(), &ok); ok)
                m_yLow = v;
            if (const double v = locale().toDouble(m_yMax->text(), &ok); ok)
                m_yHigh = v;
            if (m_feed)
                fill();
        });
    connect(m_plot, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
                if (!entry)
                    return;
                QCPAbstractPlottable* graph = entry->plottable();
                if (graph->visible())
                    m_hidden.insert(graph->name());
                else
                    m_hidden.remove(graph->name());
                for (int s = 0; s < m_plot->graphCount(); ++s)
                    if (m_plot->graph(s) == graph)
                        showSeries(s, !graph->visible());
                if (m_feed)
                    fill(!m_paused);
            });
    connect(m_plot, &QCustomPlot::mouseMove, this, &PlotPanel::showCursor);
    m_plot->installEventFilter(this);
    // Zoomed or panned while paused: the columns are reduced anew for the range shown.
    connect(m_plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
        if (m_paused && m_feed)
            fill(false);
    });
}

bool PlotPanel::eventFilter(QObject* watched, QEvent* event)
{
    // A reading with the mouse gone would be taken for the present one.
    if (watched == m_plot && event->type() == QEvent::Leave)
        m_cursor->clear();
    return QWidget::eventFilter(watched, event);
}

void PlotPanel::received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt)
{
    if (!m_feed)
        return;
    m_feed->received(bytes, count, readAt.steady);
    dataArrived();
}

void PlotPanel::dataArrived()
{
    if (isVisible() && !m_tick->isActive())
        m_tick->start();
}

void PlotPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    redraw();
}

void PlotPanel::setFeed(PlotFeed* feed)
{
    m_feed = feed;
    rebuild();
}

void PlotPanel::clearPlot()
{
    if (m_feed)
        m_feed->clear();
    rebuild();
}

void PlotPanel::togglePause()
{
    m_paused = !m_paused;
    m_pause->setText(m_paused ? QStringLiteral("RUN") : QStringLiteral("PAUSE"));
    // Zoom and pan only while the view stands still; running, it follows the newest.
    m_plot->setInteractions(m_paused ? QCP::iRangeDrag | QCP::iRangeZoom : QCP::Interactions());
    if (!m_paused) {
        m_drawnGeneration = ~std::uint64_t{0};
        redraw();
    }
}

double PlotPanel::xOf(std::size_t i) const
{
    return m_feed->store().x(i, timeAxis());
}

bool PlotPanel::timeAxis() const
{
    return m_x->currentIndex() == 1;
}

void PlotPanel::ensureGraphs()
{
    const QStringList& names = m_feed->parser().names();
    while (m_plot->graphCount() < names.size()) {
        QCPGraph* graph = m_plot->addGraph();
        graph->setPen(QPen(SeriesColours[m_plot->graphCount() - 1], 1));
        graph->setAdaptiveSampling(true);
    }
    // A series is in the legend once it has had a value (a junk line's columns only name
    // one), in column order.
    const PlotStore& store = m_feed->store();
    bool changed = false;
    for (int i = 0; i < names.size(); ++i)
        changed |= m_plot->legend->hasItemWithPlottable(m_plot->graph(i)) != store.hasSeries(i);
    if (changed) {
        m_plot->legend->clearItems();
        for (int i = 0; i < names.size(); ++i)
            if (store.hasSeries(i))
                m_plot->graph(i)->addToLegend();
    }
    for (int i = 0; i < names.size(); ++i) {
        m_plot->graph(i)->setName(names[i]);
        showSeries(i, !m_hidden.contains(names[i]));
    }
}

void PlotPanel::showSeries(int s, bool shown)
{
    QCPGraph* graph = m_plot->graph(s);
    graph->setVisible(shown);
    if (QCPPlottableLegendItem* entry = m_plot->legend->itemWithPlottable(graph))
        entry->setTextColor(shown ? Qt::black : Qt::gray);
}

Workbench::Plot PlotPanel::viewSettings() const
{
    Workbench::Plot settings;
    settings.hidden = m_hidden.values();
    settings.hidden.sort();
    settings.xTime = m_x->currentIndex() == 1;
    settings.window = m_window->currentIndex();
    settings.yFixed = m_y->currentIndex() == 1;
    settings.yMin = m_yLow;
    settings.yMax = m_yHigh;
    return settings;
}

void PlotPanel::applyViewSettings(const Workbench::Plot& settings)
{
    m_hidden = QSet<QString>(settings.hidden.begin(), settings.hidden.end());
    {
        // One rebuild for all of them.
        const QSignalBlocker bx(m_x), bw(m_window), by(m_y);
        m_x->setCurrentIndex(settings.xTime ? 1 : 0);
        m_window->setCurrentIndex(settings.window);
        m_y->setCurrentIndex(settings.yFixed ? 1 : 0);
    }
    m_yLow = settings.yMin;
    m_yHigh = settings.yMax;
    m_yMin->setText(locale().toString(m_yLow, 'g', QLocale::FloatingPointShortest));
    m_yMax->setText(locale().toString(m_yHigh, 'g', QLocale::FloatingPointShortest));
    if (m_feed)
        ensureGraphs();
    rebuild();
}

void PlotPanel::rebuild()
{
    if (m_feed && m_feed->store().size() == 0)
        m_plot->clearGraphs();
    m_drawnGeneration = ~std::uint64_t{0};
    if (m_paused && m_feed) {
        // A changed axis or window shows the newest part even while paused.
        ensureGraphs();
        followNewest();
        fill();
        return;
    }
    redraw();
}

void PlotPanel::followNewest()
{
    const PlotStore& store = m_feed->store();
    if (store.size() == 0)
        return;
    const double newest = xOf(store.size() - 1);
    const double span = windowSpan(m_window);
    // A window not yet full starts at the first point.
    m_plot->xAxis->setRange(span > 0 ? std::max(xOf(0), newest - span) : xOf(0),
                            std::max(newest, xOf(0) + 1));
}

void PlotPanel::fill(bool adjustY)
{
    const PlotStore& store = m_feed->store();
    const QCPRange view = m_plot->xAxis->range();
    // One sample beyond each edge, so the lines run to the border.
    std::size_t from = store.firstAtOrAfter(view.lower, timeAxis());
    from = from > 0 ? from - 1 : 0;
    const std::size_t to = std::min(store.size(), store.firstAtOrAfter(view.upper, timeAxis()) + 1);
    const int columns = m_plot->axisRect()->width();
    PlotExtent values;
    m_points.resize(static_cast<std::size_t>(m_plot->graphCount()));
    for (int s = 0; s < m_plot->graphCount(); ++s) {
        std::vector<PlotPoint>& points = m_points[static_cast<std::size_t>(s)];
        viewPoints(store, s, from, to, columns, timeAxis(), points);
        if (m_plot->graph(s)->visible())
            for (const PlotPoint& p : points)
                values.take(p.y);
    }
    // A zoom or pan while paused keeps the y the user made.
    const bool fixed = m_y->currentIndex() == 1;
    if (adjustY && (fixed || !values.empty())) {
        const PlotYRange y =
            fixed ? yRangeFor(m_yLow, m_yHigh, false) : yRangeFor(values.low, values.high, true);
        m_yTicker->scale = y.scale;
        m_plot->yAxis->setRange(y.lower, y.upper);
    }
    QVector<QCPGraphData> handed;
    for (int s = 0; s < m_plot->graphCount(); ++s) {
        const std::vector<PlotPoint>& points = m_points[static_cast<std::size_t>(s)];
        handed.resize(static_cast<qsizetype>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i)
            handed[static_cast<qsizetype>(i)] = {points[i].x, points[i].y / m_yTicker->scale};
        m_plot->graph(s)->data()->set(handed, true);
    }
    m_yMin->setEnabled(m_y->currentIndex() == 1);
    m_yMax->setEnabled(m_y->currentIndex() == 1);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void PlotPanel::redraw()
{
    if (!m_feed)
        return;
    m_skipped->setText(QStringLiteral("skipped: %1").arg(m_feed->parser().skipped()));
    // Paused, the view stands still while the feed goes on collecting.
    if (m_paused || m_feed->generation() == m_drawnGeneration)
        return;
    m_drawnGeneration = m_feed->generation();
    ensureGraphs();
    followNewest();
    fill();
}

void PlotPanel::showCursor(QMouseEvent* event)
{
    if (!m_feed || m_feed->store().size() == 0)
        return;
    // Read from the kept samples, not from the drawn columns: the value at the nearest sample.
    const PlotStore& store = m_feed->store();
    const double x = m_plot->xAxis->pixelToCoord(event->position().x());
    std::size_t i = std::min(store.firstAtOrAfter(x, timeAxis()), store.size() - 1);
    if (i > 0 && x - xOf(i - 1) < xOf(i) - x)
        --i;
    QStringList parts{
        QStringLiteral("%1 = %2").arg(m_x->currentText(), QString::number(xOf(i), 'g', 6))};
    for (int s = 0; s < m_plot->graphCount(); ++s) {
        if (!m_plot->graph(s)->visible() || !store.hasSeries(s))
            continue;
        const double v = store.value(s, i);
        parts << QStringLiteral("%1 = %2").arg(m_plot->graph(s)->name(),
                                               std::isnan(v) ? QStringLiteral("(gap)")
                                                             : QString::number(v, 'g', 6));
    }
    const QString text = parts.join(QStringLiteral("   "));
    m_cursor->setText(m_cursor->fontMetrics().elidedText(text, Qt::ElideRight, m_cursor->width()));
    m_cursor->setToolTip(text);
}

QByteArray PlotPanel::png() const
{
    // Drawn into memory first: the file is written by the rule every saved file follows.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!m_plot->toPixmap().save(&buffer, "PNG"))
        return {};
    return bytes;
}

} // namespace kirt
