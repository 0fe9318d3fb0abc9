#include "helper/openvpn/openvpn_command_line.h"

#include <vector>

namespace hw::helper {

namespace {

// Shell words: '...' literal, "..." with \" \\ \$ \` escapes, \x outside
// quotes. Unquoted ; & | end a word (they separate commands).
std::optional<std::vector<std::string>> shellWords(std::string_view s) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\'') {
            auto end = s.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            word.append(s.substr(i + 1, end - i - 1));
            i = end;
            inWord = true;
        } else if (c == '"') {
            bool closed = false;
            for (++i; i < s.size(); ++i) {
                if (s[i] == '"') {
                    closed = true;
                    break;
                }
                if (s[i] == '\\' && i + 1 < s.size() && std::string_view("\"\\$`").find(s[i + 1]) != std::string_view::npos)
                    ++i;
                word += s[i];
            }
            if (!closed) return std::nullopt;
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= s.size()) return std::nullopt;
            word += s[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' || c == '|') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

}  // namespace

std::optional<std::string> configPathFromCommand(std::string_view command) {
    auto words = shellWords(command);
    if (!words) return std::nullopt;
    std::string path;
    int found = 0;
    for (std::size_t i = 0; i + 1 < words->size(); ++i) {
        if ((*words)[i] != "--config") continue;
        ++found;  // two of them: which one would openvpn take?
        path = (*words)[i + 1];
    }
    if (found != 1 || path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

}  // namespace hw::helper
