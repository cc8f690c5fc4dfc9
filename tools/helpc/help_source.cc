#include "help_source.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "cp1252.h"
#include "text/ascii.h"

namespace helpc {

namespace {

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

std::string trim(const std::string& s) {
  return std::string(text::trim_blanks(s));
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, sep);)
    parts.push_back(trim(part));
  return parts;
}

// Rough widths of the body and example fonts, for table tab stops.
int estimated_width(const std::vector<Span>& spans) {
  double points = 0;
  for (const Span& s : spans) points += s.text.size() * (s.code ? 6.0 : 5.5);
  return static_cast<int>(std::ceil(points));
}

class Parser {
 public:
  HelpDocument run(std::istream& in);

 private:
  void line(const std::string& text);
  void line_body(const std::string& text);
  void header_line(const std::string& text);
  void heading(const std::string& text);
  void directive(const std::string& text);
  bool is_directive(const std::string& text) const;
  void block_line(const std::string& text);
  void row(const std::string& text);
  void end_block();
  void end_table();
  Topic& topic() { return doc_.topics.back(); }

  HelpDocument doc_;
  Paragraph para_;    // the paragraph being gathered; no spans: none
  std::string text_;  // its text before inline parsing
  std::vector<std::vector<std::vector<Span>>> table_;
  bool after_heading_ = false;
  int line_number_ = 0, block_start_ = 0;
};

SourceError at_line(int number, const std::string& what) {
  return SourceError("line " + std::to_string(number) + ": " + what);
}

HelpDocument Parser::run(std::istream& in) {
  for (std::string raw; std::getline(in, raw);) {
    ++line_number_;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    std::string text;
    try {
      text = utf8_to_cp1252(raw);
    } catch (const SourceError& e) {
      throw at_line(line_number_, e.what());
    }
    line(text);
  }
  end_block();
  if (doc_.topics.empty()) throw SourceError("the source holds no topic");
  return doc_;
}

void Parser::line(const std::string& text) {
  try {
    line_body(text);
  } catch (const SourceError& e) {
    if (std::string(e.what()).rfind("line ", 0) == 0) throw;
    throw at_line(line_number_, e.what());
  }
}

void Parser::line_body(const std::string& text) {
  if (starts_with(text, "# ")) return heading(text.substr(2));
  if (doc_.topics.empty()) return header_line(text);
  if (after_heading_ && is_directive(text)) return directive(text);
  after_heading_ = false;
  block_line(text);
}

void Parser::header_line(const std::string& text) {
  if (trim(text).empty()) return;
  if (starts_with(text, "title:")) {
    doc_.title = trim(text.substr(6));
  } else if (starts_with(text, "copyright:")) {
    doc_.copyright = trim(text.substr(10));
  } else {
    throw SourceError("expected title:, copyright: or a # heading");
  }
}

void Parser::heading(const std::string& text) {
  end_block();
  size_t open = text.rfind("{#");
  if (open == std::string::npos || text.back() != '}')
    throw SourceError("a heading ends in {#context_id}");
  Topic t;
  t.title = trim(text.substr(0, open));
  t.id = text.substr(open + 2, text.size() - open - 3);
  if (t.title.empty()) throw SourceError("empty topic title");
  Paragraph h;
  h.kind = Paragraph::HEADING;
  h.spans = {Span{Span::PLAIN, t.title, "", false}};
  t.paragraphs.push_back(h);
  doc_.topics.push_back(t);
  after_heading_ = true;
}

bool Parser::is_directive(const std::string& text) const {
  return starts_with(text, "keywords:") || starts_with(text, "map:");
}

void Parser::directive(const std::string& text) {
  if (starts_with(text, "keywords:")) {
    for (const std::string& k : split(text.substr(9), ';'))
      if (!k.empty()) topic().keywords.push_back(k);
    return;
  }
  std::istringstream numbers(text.substr(4));
  for (std::string n; numbers >> n;) {
    if (n.find_first_not_of("0123456789") != std::string::npos || n.size() > 9)
      throw SourceError("map numbers are decimal: " + n);
    topic().map_numbers.push_back(static_cast<uint32_t>(std::stoul(n)));
  }
}

void Parser::block_line(const std::string& text) {
  bool blank = trim(text).empty();
  bool example_line = starts_with(text, "    ");
  if (blank) return end_block();
  if (starts_with(text, "|")) return row(trim(text));
  if (!table_.empty()) end_table();
  if (example_line) {
    if (!text_.empty() ||
        (para_.kind != Paragraph::EXAMPLE && !para_.spans.empty()))
      throw SourceError("an example block follows a blank line");
    if (!para_.spans.empty())
      para_.spans.push_back({Span::LINE_BREAK, "", "", false});
    para_.kind = Paragraph::EXAMPLE;
    para_.spans.push_back({Span::PLAIN, text.substr(4), "", true});
    return;
  }
  if (para_.kind == Paragraph::EXAMPLE && !para_.spans.empty())
    throw SourceError("text directly after an example block");
  if (starts_with(text, "- ")) {
    end_block();
    para_.kind = Paragraph::BULLET;
    text_ = trim(text.substr(2));
    block_start_ = line_number_;
    return;
  }
  if (para_.kind != Paragraph::BULLET && starts_with(text, "  "))
    throw SourceError("indented text outside a list item or example");
  if (text_.empty()) block_start_ = line_number_;
  text_ += (text_.empty() ? "" : " ") + trim(text);
}

void Parser::row(const std::string& text) {
  if (!text_.empty()) end_block();
  if (text.find_first_not_of("|-: ") == std::string::npos) return;  // rule line
  std::string inner =
      text.substr(1, text.size() - (text.back() == '|' ? 2 : 1));
  std::vector<std::vector<Span>> cells;
  for (const std::string& cell : split(inner, '|'))
    cells.push_back(parse_inline(cell));
  if (!table_.empty() && cells.size() != table_.front().size())
    throw SourceError("table rows differ in their number of cells");
  table_.push_back(cells);
}

void Parser::end_table() {
  size_t columns = table_.front().size();
  std::vector<int> widths(columns, 0);
  for (const auto& cells : table_)
    for (size_t c = 0; c < columns; ++c)
      widths[c] = std::max(widths[c], estimated_width(cells[c]));
  std::vector<int> stops;
  for (size_t c = 0, at = 0; c + 1 < columns; ++c)
    stops.push_back(static_cast<int>(at += widths[c] + 12));
  for (const auto& cells : table_) {
    Paragraph p;
    p.kind = Paragraph::ROW;
    p.tab_stops = stops;
    for (size_t c = 0; c < columns; ++c) {
      if (c > 0) p.spans.push_back({Span::TAB, "", "", false});
      p.spans.insert(p.spans.end(), cells[c].begin(), cells[c].end());
    }
    topic().paragraphs.push_back(p);
  }
  table_.clear();
}

void Parser::end_block() {
  if (!table_.empty()) end_table();
  if (!text_.empty()) {
    try {
      para_.spans = parse_inline(text_);
    } catch (const SourceError& e) {
      throw at_line(block_start_, e.what());
    }
    if (para_.kind == Paragraph::BULLET) {
      para_.tab_stops = {12};
      para_.spans.insert(para_.spans.begin(), {{Span::PLAIN, "\x95", "", false},
                                               {Span::TAB, "", "", false}});
    }
  }
  if (!para_.spans.empty()) topic().paragraphs.push_back(para_);
  para_ = Paragraph();
  text_.clear();
}

}  // namespace

HelpDocument parse_help_source(std::istream& in) { return Parser().run(in); }

}  // namespace helpc
