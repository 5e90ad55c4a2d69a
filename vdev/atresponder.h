#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace kirt::vdev {

// Answers command lines the way a modem does: a line ends at CR, "AT" answers "OK" CR LF and
// any other command that starts with "AT" answers "ERROR" CR LF; other lines get no answer.
// Letters are not case-sensitive, blanks and line feeds are ignored and a backspace takes back
// the last character, so a terminal sending CR LF or a user correcting a typo still works.
class AtResponder
{
public:
    // The answers due for these received bytes, in order.
    QByteArray receive(QByteArrayView bytes);
    // Forgets a half-received line (the port was closed).
    void reset();

    // Longer lines are cut: a modem's command buffer is finite and the answer is then ERROR.
    static constexpr qsizetype MaxLine = 256;

private:
    QByteArray answerLine() const;

    QByteArray m_line;
    bool m_overflow = false;
};

} // namespace kirt::vdev
