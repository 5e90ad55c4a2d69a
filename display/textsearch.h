#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace kirt {

// A found piece of the searched text.
struct TextMatch
{
    qsizetype start = 0;
    qsizetype length = 0;

    friend bool operator==(const TextMatch&, const TextMatch&) = default;
};

// The bytes a query names in hex: with its blanks taken out, an even, non-zero number of hex
// digits in either case ("0D0A", "0d 0a"). Nothing for any other query.
std::optional<QByteArray> hexQuery(QStringView query);

// Every match of `query` in the display's text (its lines joined with "\n"), in order. As in a
// text editor's find, the next match is looked for after the end of the one before, so
// matches never overlap. On a HEX display a query that names bytes finds them as whole byte
// words, across line ends and the time stamps that start rows, whatever the case option; any
// other query is searched as text.
std::vector<TextMatch> findMatches(QStringView text, QStringView query, bool hexDisplay,
                                   Qt::CaseSensitivity caseSensitivity);

} // namespace kirt
