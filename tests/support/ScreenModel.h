#pragma once

#include <string>
#include <vector>

namespace vel::testing {

// What a terminal shows after the bytes a program wrote to it: lines of text, with carriage
// returns, line feeds and "erase to the end of the line" (ESC [ K) applied. Any other escape
// sequence is dropped whole.
class ScreenModel {
 public:
  explicit ScreenModel(const std::string& written) {
    lines_.emplace_back();
    for (std::size_t i = 0; i < written.size(); ++i) {
      const char c = written[i];
      std::string& line = lines_.back();
      if (c == '\r') {
        column_ = 0;
      } else if (c == '\n') {
        lines_.emplace_back();
        column_ = 0;
      } else if (c == '\033' && i + 1 < written.size() && written[i + 1] == '[') {
        std::size_t end = i + 2;
        while (end < written.size() && !(written[end] >= '@' && written[end] <= '~')) ++end;
        if (end < written.size() && written[end] == 'K')
          line.resize(std::min(line.size(), column_));
        i = end;
      } else {
        if (column_ >= line.size()) line.resize(column_ + 1, ' ');
        line[column_++] = c;
      }
    }
    while (!lines_.empty() && lines_.back().empty()) lines_.pop_back();
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  // How many lines hold `text`.
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& line : lines_) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  std::string Text() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

 private:
  std::vector<std::string> lines_;
  std::size_t column_ = 0;
};

}  // namespace vel::testing
