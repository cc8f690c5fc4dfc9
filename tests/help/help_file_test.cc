// Round trip: compile help sources, read the files back with an
// independent reader, and compare with what the source says.
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "context_hash.h"
#include "document_check.h"
#include "help_file.h"
#include "help_source.h"
#include "hlp_reader.h"

namespace {

helpc::HelpDocument parse(const std::string& text) {
  std::istringstream in(text);
  helpc::HelpDocument doc = helpc::parse_help_source(in);
  helpc::check_document(doc);
  return doc;
}

hlp::File compile(const helpc::HelpDocument& doc) {
  return hlp::read_file(helpc::write_help_file(doc));
}

const hlp::Topic& by_hash(const hlp::File& f, const std::string& id) {
  auto it = f.contexts.find(helpc::context_hash(id));
  if (it == f.contexts.end()) throw std::runtime_error("no context " + id);
  const hlp::Topic* t = hlp::topic_at(f, it->second);
  if (!t) throw std::runtime_error("context " + id + " names no topic");
  return *t;
}

const hlp::Topic& by_keyword(const hlp::File& f, const std::string& keyword) {
  for (const hlp::KeywordEntry& k : f.keywords)
    if (k.keyword == keyword && k.offsets.size() == 1)
      if (const hlp::Topic* t = hlp::topic_at(f, k.offsets[0])) return *t;
  throw std::runtime_error("no single topic for keyword " + keyword);
}

std::string plain_text(const helpc::Paragraph& p) {
  std::string s;
  for (const helpc::Span& span : p.spans)
    s += span.kind == helpc::Span::LINE_BREAK ? "\n"
         : span.kind == helpc::Span::TAB      ? "\t"
                                              : span.text;
  return s;
}

class ShippedHelpFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::ifstream in(WHIRLO_HELP_SOURCE);
    std::stringstream text;
    text << in.rdbuf();
    doc_ = new helpc::HelpDocument(parse(text.str()));
    file_ = new hlp::File(compile(*doc_));
  }
  static void TearDownTestSuite() {
    delete file_;
    delete doc_;
  }
  static helpc::HelpDocument* doc_;
  static hlp::File* file_;
};

helpc::HelpDocument* ShippedHelpFile::doc_;
hlp::File* ShippedHelpFile::file_;

TEST_F(ShippedHelpFile, HoldsTheInternalFilesTheViewersRead) {
  std::set<std::string> names;
  for (const auto& entry : file_->internal) names.insert(entry.first);
  EXPECT_EQ(names, (std::set<std::string>{"|CONTEXT", "|CTXOMAP", "|FONT",
                                          "|KWBTREE", "|KWDATA", "|KWMAP",
                                          "|SYSTEM", "|TOPIC", "|TTLBTREE"}));
  EXPECT_EQ(file_->title, "Whirlo-32 V1.2 Help");
}

TEST_F(ShippedHelpFile, OpensAtTheContentsTopicWhichReachesEveryTopic) {
  ASSERT_FALSE(file_->topics.empty());
  EXPECT_EQ(file_->topics[0].title, "Whirlo-32 V1.2");
  EXPECT_EQ(file_->contents, file_->topics[0].offset);
  std::set<const hlp::Topic*> reached{&file_->topics[0]};
  for (std::vector<const hlp::Topic*> todo{&file_->topics[0]}; !todo.empty();) {
    const hlp::Topic* t = todo.back();
    todo.pop_back();
    for (const hlp::Paragraph& p : t->paragraphs)
      for (const hlp::Jump& j : p.jumps) {
        auto it = file_->contexts.find(j.hash);
        ASSERT_NE(it, file_->contexts.end())
            << "jump \"" << j.label << "\" in " << t->title;
        const hlp::Topic* target = hlp::topic_at(*file_, it->second);
        ASSERT_NE(target, nullptr);
        if (reached.insert(target).second) todo.push_back(target);
      }
  }
  EXPECT_EQ(reached.size(), file_->topics.size());
}

TEST_F(ShippedHelpFile, SetupAndEveryErrorNumberAreFoundByKeywordMapAndId) {
  EXPECT_EQ(by_keyword(*file_, "Setup").title, "Setup");
  EXPECT_EQ(by_keyword(*file_, "Installation").title, "Setup");
  EXPECT_EQ(by_hash(*file_, "setup").title, "Setup");
  EXPECT_EQ(by_hash(*file_, "SETUP").title, "Setup");  // ids ignore case
  std::vector<uint32_t> numbers;
  for (const auto& [number, offset] : file_->map_numbers) {
    numbers.push_back(number);
    const hlp::Topic* t = hlp::topic_at(*file_, offset);
    ASSERT_NE(t, nullptr);
    std::string title = "Error " + std::to_string(number);
    EXPECT_EQ(t->title, title);
    EXPECT_EQ(by_keyword(*file_, title).title, title);
    EXPECT_NE(t->paragraphs.at(1).text.find("WHL" + std::to_string(number)),
              std::string::npos);
  }
  EXPECT_EQ(numbers,
            (std::vector<uint32_t>{1001, 1002, 1003, 1004, 1005, 2001, 2002}));
}

TEST_F(ShippedHelpFile, TextTitlesAndFontsRoundTrip) {
  ASSERT_EQ(file_->topics.size(), doc_->topics.size());
  for (size_t t = 0; t < doc_->topics.size(); ++t) {
    const helpc::Topic& source = doc_->topics[t];
    const hlp::Topic& read = file_->topics[t];
    EXPECT_EQ(read.title, source.title);
    EXPECT_EQ(file_->titles.at(read.offset), source.title);
    ASSERT_EQ(read.paragraphs.size(), source.paragraphs.size()) << source.title;
    for (size_t p = 0; p < source.paragraphs.size(); ++p)
      EXPECT_EQ(read.paragraphs[p].text, plain_text(source.paragraphs[p]))
          << source.title;
    EXPECT_EQ(read.paragraphs[0].fonts,
              std::vector<unsigned>{1});  // heading font
  }
  const hlp::Topic& query = by_hash(*file_, "query_language");
  bool example_font = false;
  for (const hlp::Paragraph& p : query.paragraphs)
    for (unsigned font : p.fonts) example_font |= font == 2;
  EXPECT_TRUE(example_font);
}

// Enough topics and keywords for several topic blocks and for index
// pages above the leaves of |CONTEXT and |KWBTREE.
std::string large_source(int topics) {
  std::string s = "title: Large\n\n# Start {#start}\n\n";
  for (int i = 1; i < topics; ++i)
    s += "- [Topic " + std::to_string(i) + "](#t" + std::to_string(i) + ")\n";
  for (int i = 1; i < topics; ++i) {
    std::string n = std::to_string(i);
    s += "\n# Topic " + n + " {#t" + n + "}\nkeywords: Keyword number " + n +
         "\nmap: " + std::to_string(5000 + i) + "\n\nParagraph one of topic " +
         n +
         ", long enough to fill the blocks a little faster than a short one "
         "would.\n\n"
         "    example " +
         n + "\n    second line\n\n| a | `b` " + n + " |\n";
  }
  return s;
}

TEST(LargeHelpFile, SpansBlocksAndTreeLevelsAndStillResolvesEveryTopic) {
  helpc::HelpDocument doc = parse(large_source(400));
  hlp::File f = compile(doc);
  EXPECT_GT(f.topic_blocks, 10u);
  EXPECT_GE(f.context_levels, 2u);
  EXPECT_GE(f.keyword_levels, 2u);
  ASSERT_EQ(f.topics.size(), 400u);
  for (int i = 1; i < 400; ++i) {
    std::string n = std::to_string(i), title = "Topic " + n;
    EXPECT_EQ(by_hash(f, "t" + n).title, title);
    EXPECT_EQ(by_keyword(f, "Keyword number " + n).title, title);
    EXPECT_EQ(f.titles.at(by_hash(f, "t" + n).offset), title);
    EXPECT_EQ(f.topics[i].paragraphs.at(2).text,
              "example " + n + "\nsecond line");
    EXPECT_EQ(f.topics[i].paragraphs.at(3).text, "a\tb " + n);
  }
  EXPECT_EQ(f.map_numbers.size(), 399u);
}

void expect_rejected(const std::string& source, const std::string& message) {
  try {
    parse(source);
    ADD_FAILURE() << "accepted: " << source;
  } catch (const helpc::SourceError& e) {
    EXPECT_NE(std::string(e.what()).find(message), std::string::npos)
        << e.what();
  }
}

TEST(HelpSource, RejectsWhatTheFileCannotHold) {
  expect_rejected("# A {#a}\n\nSee [b](#b).\n", "unknown \"b\"");
  expect_rejected("# A {#a}\nkeywords: K\n# B {#b}\nkeywords: k\n",
                  "keyword \"k\" given twice");
  expect_rejected("# A {#a}\nmap: 7\n# B {#b}\nmap: 7\n",
                  "map number 7 given twice");
  expect_rejected("# A {#a-b}\n", "letters, digits");
  expect_rejected("# A {#a}\n# B {#A}\n", "collide");
  expect_rejected("# A\n", "line 1: a heading ends in {#context_id}");
  expect_rejected("# A {#a}\n\ntext `code\n", "line 3: unclosed `code`");
  expect_rejected("# A {#a}\n\n| a | b |\n| c |\n", "line 4: table rows");
  expect_rejected("# A {#a}\n\nSmile \xE2\x98\xBA\n", "line 3: character");
  expect_rejected("stray text\n", "line 1: expected title:");
}

TEST(HelpSource, ReadsMarkupIntoSpans) {
  helpc::HelpDocument doc = parse(
      "title: T\n\n# A {#a}\n\nOne [jump](#a) `code` [Whirl]\n\\`x\\` end\n\n- "
      "item\n  more\n");
  const helpc::Topic& t = doc.topics.at(0);
  ASSERT_EQ(t.paragraphs.size(), 3u);
  const std::vector<helpc::Span>& s = t.paragraphs[1].spans;
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[1].kind, helpc::Span::JUMP);
  EXPECT_EQ(s[1].text, "jump");
  EXPECT_EQ(s[1].target, "a");
  EXPECT_TRUE(s[3].code);
  EXPECT_EQ(s[4].text, " [Whirl] `x` end");
  EXPECT_EQ(plain_text(t.paragraphs[2]), "\x95\titem more");
  EXPECT_EQ(t.paragraphs[2].kind, helpc::Paragraph::BULLET);
}

}  // namespace
