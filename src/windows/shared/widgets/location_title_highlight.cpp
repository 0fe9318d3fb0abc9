#include "windows/shared/widgets/location_title_highlight.h"

#include "view/kit_color.h"
#include "view/kit_fonts.h"

namespace hw {

namespace {
constexpr double kTitleSize = 12;
constexpr char kTitleColor[] = "#c4c4c4";
}  // namespace

std::optional<TitleMatch> locationTitleMatch(const QString& title, const QString& search) {
    if (search.isEmpty()) return std::nullopt;
    const auto at = title.indexOf(search, 0, Qt::CaseInsensitive);
    if (at < 0) return std::nullopt;
    return TitleMatch{static_cast<int>(at), static_cast<int>(search.size())};
}

QList<QTextLayout::FormatRange> locationTitleFormats(const QString& title, const QString& search) {
    QTextCharFormat base;
    base.setFont(kitFont("Lato-Semibold", kTitleSize));
    base.setForeground(kitColor(kTitleColor));
    QList<QTextLayout::FormatRange> formats{{0, static_cast<int>(title.size()), base}};
    if (auto match = locationTitleMatch(title, search)) {
        QTextCharFormat heavy = base;
        heavy.setFont(kitFont("Lato-Black", kTitleSize));
        formats.append({match->start, match->length, heavy});
    }
    return formats;
}

}  // namespace hw
