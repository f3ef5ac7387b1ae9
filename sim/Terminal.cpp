#include "Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace sim {
namespace {

const size_t kDefaultWidth = 80;
const size_t kNarrowest = 20;  // a width below this is taken as this: every line still breaks

size_t width_from_environment() {
  const char* columns = std::getenv("COLUMNS");
  if (columns == nullptr) return kDefaultWidth;
  char* end = nullptr;
  long n = std::strtol(columns, &end, 10);
  return end != columns && *end == '\0' && n > 0 && n < 100000 ? static_cast<size_t>(n)
                                                               : kDefaultWidth;
}

// Where a continuation of the line begins.
size_t hanging_indent(const std::string& line) {
  if (!line.empty() && line[0] == '[') {
    size_t stamp = line.find("] ");
    if (stamp != std::string::npos) {
      size_t kind = line.find_first_not_of(' ', stamp + 2);
      size_t gap = kind == std::string::npos ? std::string::npos : line.find(' ', kind);
      size_t text = gap == std::string::npos ? std::string::npos : line.find_first_not_of(' ', gap);
      if (text != std::string::npos) return columns(line.substr(0, text));
    }
  }
  size_t own = line.find_first_not_of(' ');
  return (own == std::string::npos ? 0 : own) + 2;
}

}  // namespace

Terminal detect_terminal(bool no_colour) {
  Terminal t;
  if (isatty(STDOUT_FILENO) == 0) return t;
  t.fit = true;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    t.width = size.ws_col;
  } else {
    t.width = width_from_environment();
  }
  const char* no_color = std::getenv("NO_COLOR");
  t.colour = !no_colour && (no_color == nullptr || *no_color == '\0');
  return t;
}

size_t columns(const std::string& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\033' && i + 1 < text.size() && text[i + 1] == '[') {
      size_t end = text.find('m', i);
      if (end != std::string::npos) {
        i = end;
        continue;
      }
    }
    n += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
  }
  return n;
}

std::string wrap_line(const std::string& line, size_t width) {
  width = std::max(width, kNarrowest);
  if (columns(line) <= width) return line;
  size_t indent = hanging_indent(line);
  if (indent * 2 > width) indent = 4;  // a deep indent on a narrow terminal leaves no room
  // The line's own indent stays; then words, each with the spaces before it.
  size_t first = line.find_first_not_of(' ');
  std::string out = line.substr(0, first);
  size_t used = first;
  bool line_empty = true;
  size_t i = first;
  while (i < line.size()) {
    size_t word_end = line.find(' ', i);
    if (word_end == std::string::npos) word_end = line.size();
    std::string word = line.substr(i, word_end - i);
    size_t next = line.find_first_not_of(' ', word_end);
    std::string gap =
        line.substr(word_end, (next == std::string::npos ? line.size() : next) - word_end);
    size_t w = columns(word);
    if (!line_empty && used + w > width) {
      // Spaces before the break are dropped with it.
      while (!out.empty() && out.back() == ' ') out.pop_back();
      out += '\n' + std::string(indent, ' ');
      used = indent;
    }
    out += word;
    used += w;
    line_empty = false;
    if (next == std::string::npos) break;
    out += gap;
    used += gap.size();
    i = next;
  }
  return out;
}

std::string wrap_text(const std::string& text, size_t width) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    out += wrap_line(text.substr(start, end - start), width);
    if (ended) out += '\n';
    start = end + 1;
  }
  return out;
}

std::string colour_decision(const std::string& did) {
  static const std::vector<std::pair<std::string, const char*>> kColours = {
      {"passed through", "\033[32m"}, {"panned", "\033[34m"}, {"handed over", "\033[35m"}};
  for (const auto& [decision, code] : kColours) {
    if (did.compare(0, decision.size(), decision) == 0)
      return code + decision + "\033[0m" + did.substr(decision.size());
  }
  return did;
}

}  // namespace sim
