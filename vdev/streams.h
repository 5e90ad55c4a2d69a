#pragma once

#include "vdev/timing.h"

#include <QByteArray>

#include <cstdint>

namespace kirt::vdev {

// "STATUS 00012 UP 00:00:12 OK" CR LF: the number of the period since the device started
// and its uptime, so that a reader sees at once whether lines went missing.
QByteArray statusLine(std::uint64_t sequence, Nanos uptime);

// Endless numbered lines of text, "000001 THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG" CR LF,
// cut wherever a chunk ends; the numbers make a lost or repeated byte easy to find.
class TextStream
{
public:
    QByteArray next(qsizetype count);

private:
    std::uint64_t m_line = 1;
    QByteArray m_rest;
};

// Endless lines of numbers to plot, "sine:0.707,ramp:12,noise:-0.13,count:4711" CR LF: a sine
// of period 100 lines, a ramp 0..99, noise in -0.5..0.5 and the line's number, which shows a
// lost line as a step.
class PlotStream
{
public:
    QByteArray next(qsizetype count);

private:
    std::uint64_t m_line = 0;
    std::uint64_t m_noise = 1;
    QByteArray m_rest;
};

// Endless pseudo-random bytes; the same seed gives the same sequence, however it is cut.
class RandomStream
{
public:
    explicit RandomStream(std::uint64_t seed) : m_state(seed) {}
    QByteArray next(qsizetype count);

private:
    std::uint64_t m_state;
    std::uint64_t m_word = 0;
    int m_wordBytesLeft = 0;
};

} // namespace kirt::vdev
