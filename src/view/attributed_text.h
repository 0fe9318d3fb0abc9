#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/color.h"

namespace hw {

enum class TextAlignment { Natural, Left, Center, Right };

// One run of text with its look. Text is always shown as typed, never read as markup.
struct TextRun {
    TextRun() = default;
    explicit TextRun(std::string plain) : text(std::move(plain)) {}

    std::string text;
    std::optional<Color> color;
    std::optional<int> weight;        // 400 regular, 600 semibold, 700 bold, 900 black
    std::optional<double> fontSize;   // pixels
    bool underline = false;
    std::optional<std::string> link;  // the run opens this address when clicked
    // The paragraph's alignment; the first run that sets one decides.
    std::optional<TextAlignment> alignment;
};

struct AttributedText {
    std::vector<TextRun> runs;

    AttributedText& append(TextRun run) {
        runs.push_back(std::move(run));
        return *this;
    }
    AttributedText& append(const AttributedText& other) {
        runs.insert(runs.end(), other.runs.begin(), other.runs.end());
        return *this;
    }
    std::string plainText() const {
        std::string all;
        for (const auto& run : runs) all += run.text;
        return all;
    }
};

// The label linked to the address, in the colour, underlined when asked.
AttributedText hyperlinkFromString(const std::string& label, const std::string& url, Color color,
                                   bool addUnderline = false);

}  // namespace hw
