#include "document_check.h"

#include <algorithm>
#include <map>
#include <set>

#include "context_hash.h"
#include "text/ascii.h"

namespace helpc {

namespace {

void check_ids(const HelpDocument& doc) {
  std::map<int32_t, std::string> hashes;
  for (const Topic& t : doc.topics) {
    if (!is_valid_context_id(t.id))
      throw SourceError("context id \"" + t.id +
                        "\": letters, digits, . and _ only");
    auto [at, fresh] = hashes.emplace(context_hash(t.id), t.id);
    if (!fresh)
      throw SourceError("context ids \"" + at->second + "\" and \"" + t.id +
                        "\" collide");
  }
}

void check_jumps(const HelpDocument& doc) {
  std::set<std::string> ids;
  for (const Topic& t : doc.topics) ids.insert(text::lower_case(t.id));
  for (const Topic& t : doc.topics)
    for (const Paragraph& p : t.paragraphs)
      for (const Span& s : p.spans)
        if (s.kind == Span::JUMP && !ids.count(text::lower_case(s.target)))
          throw SourceError("topic \"" + t.id + "\" jumps to unknown \"" +
                            s.target + "\"");
}

// The viewers' index lists one topic per keyword, so a keyword names one.
void check_keywords_and_maps(const HelpDocument& doc) {
  std::set<std::string> keywords;
  std::set<uint32_t> maps;
  for (const Topic& t : doc.topics) {
    for (const std::string& k : t.keywords)
      if (!keywords.insert(text::lower_case(k)).second)
        throw SourceError("keyword \"" + k + "\" given twice");
    for (uint32_t m : t.map_numbers)
      if (!maps.insert(m).second)
        throw SourceError("map number " + std::to_string(m) + " given twice");
  }
}

}  // namespace

void check_document(const HelpDocument& doc) {
  if (doc.topics.empty()) throw SourceError("no topics");
  check_ids(doc);
  check_jumps(doc);
  check_keywords_and_maps(doc);
}

}  // namespace helpc
