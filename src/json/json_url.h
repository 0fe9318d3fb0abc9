#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hw {

// A URL reference checked against the generic URI syntax: every character
// either allowed where it stands or percent-escaped.
class JSONURL {
 public:
  static std::optional<JSONURL> fromString(std::string_view text);

  const std::string& absoluteString() const noexcept { return text_; }
  std::string_view scheme() const noexcept { return part(schemeBegin_, schemeEnd_); }
  std::string_view authority() const noexcept { return part(authorityBegin_, authorityEnd_); }
  std::string_view path() const noexcept { return part(pathBegin_, pathEnd_); }
  std::string_view query() const noexcept { return part(queryBegin_, queryEnd_); }
  std::string_view fragment() const noexcept { return part(fragmentBegin_, text_.size()); }

  friend bool operator==(const JSONURL& a, const JSONURL& b) noexcept { return a.text_ == b.text_; }

 private:
  JSONURL() = default;
  std::string_view part(std::size_t b, std::size_t e) const noexcept {
    return std::string_view(text_).substr(b, e - b);
  }
  std::string text_;
  std::size_t schemeBegin_ = 0, schemeEnd_ = 0, authorityBegin_ = 0, authorityEnd_ = 0, pathBegin_ = 0,
              pathEnd_ = 0, queryBegin_ = 0, queryEnd_ = 0, fragmentBegin_ = 0;
};

// Percent-encodes every byte outside the characters allowed in a URL query;
// empty when the text is not valid UTF-8.
std::optional<std::string> jsonPercentEncodeQuery(std::string_view text);
bool jsonIsValidUTF8(std::string_view text);
// Whether the text holds a percent sign followed by two hexadecimal digits.
bool jsonContainsPercentEscape(std::string_view text);

}  // namespace hw
