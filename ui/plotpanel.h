#pragma once

#include "plot/plotfeed.h"
#include "plot/plotview.h"
#include "session/portcontroller.h"
#include "transmit/workbench.h"

#include <QSet>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCPGraph;
class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kirt {

class PlotFeed;
class ScaledTicker;

// The plot view: the feed's series over sample number or receive time, redrawn at most 30
// times a second while data flows, from the points in view only; pause, clear, the window,
// the y range, a legend that hides and shows series, zoom and pan while paused, a cursor
// readout and export.
class PlotPanel final : public QWidget, public PortReceiver
{
    Q_OBJECT

public:
    static constexpr int RedrawMs = 33;

    explicit PlotPanel(QWidget* parent = nullptr);

    void setFeed(PlotFeed* feed);
    const PlotFeed* feed() const { return m_feed; }
    PlotFeed* feed() { return m_feed; }
    // Drops the collected points (CLEAR, or the port opened anew).
    void clearPlot();
    bool paused() const { return m_paused; }
    QCustomPlot* plot() const { return m_plot; }
    // The view as shown, as a PNG; empty when it cannot be drawn.
    QByteArray png() const;

    // What the workbench keeps of the view.
    Workbench::Plot viewSettings() const;
    void applyViewSettings(const Workbench::Plot& settings);

    // New samples in the feed: drawn within a tick while the plot is in front. A quiet line
    // and a plot out of sight cost no timer.
    void dataArrived();
    // Bytes from the port, from the moment it opens, whether the plot is in front or not.
    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) override;
    // Draws what the feed holds now, also while hidden (the tests and the benchmark).
    void redraw();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void exportRequested();

private:
    void togglePause();
    void rebuild();
    void followNewest();
    // Hands the graphs what is in the x range shown, reduced to the pixel columns.
    void fill(bool adjustY = true);
    void showCursor(QMouseEvent* event);
    void ensureGraphs();
    double xOf(std::size_t i) const;
    bool timeAxis() const;
    void showSeries(int s, bool shown);

    // Its own feed, unless given another (the benchmark's).
    PlotFeed m_ownFeed;
    PlotFeed* m_feed = &m_ownFeed;
    QCustomPlot* m_plot = nullptr;
    QPushButton* m_pause = nullptr;
    QComboBox* m_x = nullptr;
    QComboBox* m_window = nullptr;
    QComboBox* m_y = nullptr;
    QLineEdit* m_yMin = nullptr;
    QLineEdit* m_yMax = nullptr;
    QLabel* m_skipped = nullptr;
    QLabel* m_cursor = nullptr;
    QTimer* m_tick = nullptr;
    QSharedPointer<ScaledTicker> m_yTicker;
    std::vector<std::vector<PlotPoint>> m_points; // per series, reused every frame
    double m_yLow = -1;                           // the fixed range as last entered
    double m_yHigh = 1;
    QSet<QString> m_hidden; // by name: a series hidden stays hidden when it appears anew
    bool m_paused = false;
    std::uint64_t m_drawnGeneration = ~std::uint64_t{0};
};

} // namespace kirt
