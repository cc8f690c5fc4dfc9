#include "help_source.h"

namespace helpc {

namespace {

void add_text(std::vector<Span>& spans, const std::string& text, bool code) {
  if (text.empty()) return;
  if (!spans.empty() && spans.back().kind == Span::PLAIN &&
      spans.back().code == code) {
    spans.back().text += text;
    return;
  }
  Span s;
  s.text = text;
  s.code = code;
  spans.push_back(s);
}

// A bracket that opens no [label](#id) is plain text, as in "[Whirl]".
bool is_link(const std::string& s, size_t i) {
  size_t close = s.find(']', i);
  return close != std::string::npos && s.compare(close, 3, "](#") == 0;
}

void take_link(const std::string& s, size_t& i, std::vector<Span>& spans) {
  size_t close = s.find(']', i);
  size_t end = s.find(')', close);
  if (end == std::string::npos) throw SourceError("unclosed link");
  Span jump;
  jump.kind = Span::JUMP;
  jump.text = s.substr(i + 1, close - i - 1);
  jump.target = s.substr(close + 3, end - close - 3);
  if (jump.text.empty() || jump.target.empty())
    throw SourceError("empty link label or target");
  spans.push_back(jump);
  i = end + 1;
}

}  // namespace

std::vector<Span> parse_inline(const std::string& s) {
  std::vector<Span> spans;
  std::string pending;
  bool code = false;
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      pending += s[i + 1];
      i += 2;
    } else if (c == '`') {
      add_text(spans, pending, code);
      pending.clear();
      code = !code;
      ++i;
    } else if (c == '[' && !code) {
      if (is_link(s, i)) {
        add_text(spans, pending, code);
        pending.clear();
        take_link(s, i, spans);
      } else {
        pending += c;
        ++i;
      }
    } else {
      pending += c;
      ++i;
    }
  }
  if (code) throw SourceError("unclosed `code`");
  add_text(spans, pending, code);
  return spans;
}

}  // namespace helpc
