#include "vdev/atresponder.h"

namespace kirt::vdev {

namespace {

constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr char Backspace = '\b';
constexpr char Delete = '\x7f';

} // namespace

QByteArray AtResponder::receive(QByteArrayView bytes)
{
    QByteArray answers;
    for (const char c : bytes) {
        if (c == Cr) {
            answers += answerLine();
            reset();
        } else if (c == Backspace || c == Delete) {
            if (!m_line.isEmpty())
                m_line.chop(1);
        } else if (c == Lf || c == ' ' || c == '\t') {
            continue;
        } else if (m_line.size() < MaxLine) {
            m_line.append(c);
        } else {
            m_overflow = true;
        }
    }
    return answers;
}

void AtResponder::reset()
{
    m_line.clear();
    m_overflow = false;
}

QByteArray AtResponder::answerLine() const
{
    if (m_line.size() < 2 || qstrnicmp(m_line.constData(), "AT", 2) != 0)
        return {};
    if (m_line.size() == 2 && !m_overflow)
        return QByteArrayLiteral("OK\r\n");
    return QByteArrayLiteral("ERROR\r\n");
}

} // namespace kirt::vdev
