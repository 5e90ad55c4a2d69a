#include "display/textsearch.h"

#include <QByteArrayMatcher>
#include <QStringMatcher>

namespace kirt {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\n' || u == u'\t' || u == u'\r';
}

std::vector<TextMatch> findText(QStringView text, QStringView query,
                                Qt::CaseSensitivity caseSensitivity)
{
    std::vector<TextMatch> matches;
    if (query.isEmpty())
        return matches;
    const QStringMatcher matcher(query, caseSensitivity);
    for (qsizetype at = matcher.indexIn(text); at >= 0;
         at = matcher.indexIn(text, at + query.size()))
        matches.push_back({at, query.size()});
    return matches;
}

// The byte words of a HEX display in one pass, each with where its first digit stands, cut
// into runs of bytes that are adjacent on the wire: a line end or a time stamp between two
// bytes keeps them adjacent, any other word (text from a file, a note) does not.
std::vector<TextMatch> findBytes(QStringView text, const QByteArray& bytes)
{
    std::vector<TextMatch> matches;
    QByteArray values;
    std::vector<qsizetype> positions;
    const QByteArrayMatcher matcher(bytes);
    qsizetype runStart = 0;
    const auto searchRun = [&] {
        const QByteArrayView run = QByteArrayView(values).sliced(runStart);
        for (qsizetype at = matcher.indexIn(run); at >= 0;
             at = matcher.indexIn(run, at + bytes.size())) {
            const qsizetype first = positions[static_cast<std::size_t>(runStart + at)];
            const qsizetype last =
                positions[static_cast<std::size_t>(runStart + at + bytes.size() - 1)];
            matches.push_back({first, last + 2 - first});
        }
        runStart = values.size();
    };

    values.reserve(text.size() / 3 + 1);
    positions.reserve(static_cast<std::size_t>(text.size() / 3 + 1));
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < size && !isBlank(text[end]))
            ++end;
        const int high = end - i == 2 ? hexDigit(text[i]) : -1;
        const int low = high >= 0 ? hexDigit(text[i + 1]) : -1;
        if (low >= 0) {
            values.append(static_cast<char>(high * 16 + low));
            positions.push_back(i);
        } else if (!(text[i] == u'[' && text[end - 1] == u']')) {
            searchRun();
        }
        i = end;
    }
    searchRun();
    return matches;
}

} // namespace

std::optional<QByteArray> hexQuery(QStringView query)
{
    QByteArray bytes;
    int high = -1;
    for (const QChar c : query) {
        if (isBlank(c))
            continue;
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.append(static_cast<char>(high * 16 + digit));
            high = -1;
        }
    }
    if (bytes.isEmpty() || high >= 0)
        return std::nullopt;
    return bytes;
}

std::vector<TextMatch> findMatches(QStringView text, QStringView query, bool hexDisplay,
                                   Qt::CaseSensitivity caseSensitivity)
{
    if (hexDisplay) {
        if (const std::optional<QByteArray> bytes = hexQuery(query))
            return findBytes(text, *bytes);
    }
    return findText(text, query, caseSensitivity);
}

} // namespace kirt
