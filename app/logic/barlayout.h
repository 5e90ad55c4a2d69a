#pragma once

#include <QRect>

namespace kirt {

// The command bar: the filler takes what the fixed buttons leave, START and STOP follow it,
// and neighbours overlap by one pixel, so STOP ends two pixels before the right edge.
struct CommandBarGeometry
{
    QRect filler;
    QRect start;
    QRect stop;
};
CommandBarGeometry StretchCommandBar(int barWidth, const QRect& exitButton, const QRect& filler,
                                     const QRect& start, const QRect& stop);

// The line bar: only the filler after "PROGRAM" moves.
QRect StretchLineBar(int barWidth, const QRect& programButton, const QRect& filler);

} // namespace kirt
