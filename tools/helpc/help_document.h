// The help file's content as the source states it, in cp1252 text.
#ifndef WHIRLO_TOOLS_HELPC_HELP_DOCUMENT_H
#define WHIRLO_TOOLS_HELPC_HELP_DOCUMENT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace helpc {

struct Span {
  enum Kind { PLAIN, JUMP, LINE_BREAK, TAB };
  Kind kind = PLAIN;
  std::string text;
  std::string target;  // context id of a jump
  bool code = false;   // set in the example font
};

struct Paragraph {
  enum Kind { HEADING, BODY, BULLET, EXAMPLE, ROW };
  Kind kind = BODY;
  std::vector<Span> spans;
  std::vector<int> tab_stops;  // points from the left margin, for rows
};

struct Topic {
  std::string id;
  std::string title;
  std::vector<std::string> keywords;
  std::vector<uint32_t> map_numbers;
  std::vector<Paragraph> paragraphs;
};

struct HelpDocument {
  std::string title;
  std::string copyright;
  std::vector<Topic> topics;  // the first is the contents topic
};

struct SourceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_HELP_DOCUMENT_H
