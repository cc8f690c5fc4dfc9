// The help file's content as the source states it, in cp1252 text.
#ifndef HELPC_HELP_DOCUMENT_H_
#define HELPC_HELP_DOCUMENT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace helpc {

struct Span {
  enum Kind { plain, jump, line_break, tab };
  Kind kind = plain;
  std::string text;
  std::string target;  // context id of a jump
  bool code = false;   // set in the example font
};

struct Paragraph {
  enum Kind { heading, body, bullet, example, row };
  Kind kind = body;
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

#endif  // HELPC_HELP_DOCUMENT_H_
