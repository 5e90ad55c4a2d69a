#pragma once

#include <QSize>

namespace kirt {

// The largest window size, up to the designed one, whose frame (the window plus the
// decoration around it) fits the screen's free area.
inline QSize fitWindowSize(QSize window, QSize decoration, QSize available)
{
    return window.boundedTo(available - decoration).expandedTo(QSize(1, 1));
}

} // namespace kirt
