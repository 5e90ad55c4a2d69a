#include "app/logic/barlayout.h"

namespace kirt {

CommandBarGeometry StretchCommandBar(int barWidth, const QRect& exitButton, const QRect& filler,
                                     const QRect& start, const QRect& stop)
{
    CommandBarGeometry g;
    const int fillerLeft = exitButton.x() + exitButton.width() - 1;
    const int fillerWidth = barWidth - fillerLeft - start.width() - stop.width();
    g.filler = QRect(fillerLeft, filler.y(), fillerWidth, filler.height());
    const int startLeft = fillerLeft + fillerWidth - 1;
    g.start = QRect(startLeft, start.y(), start.width(), start.height());
    g.stop = QRect(startLeft + start.width() - 1, stop.y(), stop.width(), stop.height());
    return g;
}

QRect StretchLineBar(int barWidth, const QRect& programButton, const QRect& filler)
{
    const int left = programButton.x() + programButton.width() - 1;
    const int width = barWidth - programButton.x() - programButton.width() - 1;
    return {left, filler.y(), width, filler.height()};
}

} // namespace kirt
