#pragma once
#include <QList>
#include <QString>
#include <QTextLayout>
#include <optional>

namespace hw {

// A match in a title, in UTF-16 units.
struct TitleMatch {
    int start = 0;
    int length = 0;
    bool operator==(const TitleMatch&) const = default;
};

// The first case-insensitive occurrence of the search text in the title;
// none for an empty search or no occurrence.
std::optional<TitleMatch> locationTitleMatch(const QString& title, const QString& search);

// A locations-window title: Lato 600, 12 px, "#c4c4c4" over the whole title,
// Lato 900 over the first match.
QList<QTextLayout::FormatRange> locationTitleFormats(const QString& title, const QString& search);

}  // namespace hw
