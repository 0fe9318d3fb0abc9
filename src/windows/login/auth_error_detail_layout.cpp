#include "windows/login/auth_error_detail_layout.h"

#include <vector>

#include "core/grapheme_text.h"

namespace hw {

AuthErrorDetailLayout layoutErrorDetail(std::string_view detail, bool fitsOneLine) {
    AuthErrorDetailLayout out;
    const std::size_t length = characterCount(detail);
    if (fitsOneLine || length <= kErrorBarSingleLineMaxChars) {
        out.firstLine = std::string(detail);
        return out;
    }
    // Split at every blank: two blanks in a row give an empty word.
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= detail.size(); ++i) {
        if (i == detail.size() || detail[i] == ' ') {
            words.push_back(detail.substr(start, i - start));
            start = i + 1;
        }
    }
    std::size_t firstLength = 0;
    bool overflowed = false;
    for (std::string_view word : words) {
        const std::size_t wordLength = characterCount(word);
        // Once one word has gone to the second line, every later one follows
        // it, so the words keep their order.
        if (!overflowed && firstLength + wordLength + 1 <= kErrorBarSingleLineMaxChars) {
            out.firstLine.append(word).push_back(' ');
            firstLength += wordLength + 1;
        } else {
            overflowed = true;
            out.secondLine.append(word).push_back(' ');
        }
    }
    out.twoLines = true;
    const bool veryLong = length >= 81;
    out.fontSize = veryLong ? 10.0 : 11.0;
    out.titleSpacing = veryLong ? 3.0 : 0.0;
    return out;
}

double errorTitleTopOffset(std::string_view firstDetailLine) {
    const bool blank = firstDetailLine.empty() || firstDetailLine == " " || firstDetailLine == "  ";
    return blank ? 13.0 : 5.0;
}

}  // namespace hw
