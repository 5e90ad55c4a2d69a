#pragma once

#include "display/textsearch.h"

#include <QString>

#include <optional>

class QWidget;

namespace kirt {

// A view the search bar can search other than the receive display: it gives its text, lines
// joined where they only wrapped, and shows, selects and highlights in the offsets of that
// text. Offsets refer to the text of the last searchText() call.
class SearchTarget
{
public:
    virtual ~SearchTarget() = default;

    // Takes the focus back when the bar closes.
    virtual QWidget* searchWidget() = 0;
    virtual QString searchText() = 0;
    // The current selection, where Next and Previous step from; nothing when none.
    virtual std::optional<TextMatch> searchSelection() const = 0;
    // Selects a match and brings it into view.
    virtual void selectFound(const TextMatch& match) = 0;
    // Highlights the matches of a query wherever they are shown; an empty query clears.
    virtual void setSearchHighlight(const QString& query, Qt::CaseSensitivity caseSensitivity) = 0;
};

} // namespace kirt
