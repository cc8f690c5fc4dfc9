// An independent reader of help files, for round-trip tests of the
// compiler's output. It checks the structures as it goes and throws
// std::runtime_error at the first inconsistency.
#ifndef WHIRLO_TESTS_HELP_HLP_READER_H
#define WHIRLO_TESTS_HELP_HLP_READER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hlp {

using Bytes = std::vector<uint8_t>;

struct Jump {
  int32_t hash;
  std::string label;
};

struct Paragraph {
  std::string text;  // '\n' for a line break, '\t' for a tab
  std::vector<Jump> jumps;
  std::vector<unsigned> fonts;  // in the order they are set
};

struct Topic {
  std::string title;
  uint32_t offset;  // TOPICOFFSET
  std::vector<Paragraph> paragraphs;
};

struct KeywordEntry {
  std::string keyword;
  std::vector<uint32_t> offsets;
};

struct File {
  std::map<std::string, Bytes> internal;  // directory name to data
  std::string title;
  uint32_t contents = 0xFFFFFFFF;
  unsigned system_flags = 0;
  std::vector<Topic> topics;  // in chain order
  unsigned topic_blocks = 0;
  std::map<int32_t, uint32_t> contexts;
  std::vector<KeywordEntry> keywords;  // in tree order
  std::map<uint32_t, std::string> titles;
  std::vector<std::pair<uint32_t, uint32_t>> map_numbers;
  unsigned context_levels = 0, keyword_levels = 0;
};

File read_file(const Bytes& bytes);

// The topic whose offset is `offset`, or nullptr.
const Topic* topic_at(const File& f, uint32_t offset);

}  // namespace hlp

#endif  // WHIRLO_TESTS_HELP_HLP_READER_H
