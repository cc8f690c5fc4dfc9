// The data-file writer on hostile variables. Input: pairs, each a one-byte
// name length, the name, a two-byte (big-endian) value length, the value.
//
// Checked by reading the file with the profile-line grammar the programs
// read it with: every line ends with CR LF; the sections are [CGI],
// [Accept], [System] and [Extra Headers], once each and in that order;
// every other line is a key line with a name and a value, no control byte
// and no value longer than MAX_VALUE_BYTES, and no key twice in a section;
// [System] holds the bridge's own paths and nothing a request can add;
// header keys are words and hyphens; and a User-Agent of plain text comes
// through unchanged.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "bridge/data_file.h"
#include "bridge/ini_text.h"
#include "fuzz_support.h"
#include "text/profile_line.h"

namespace {

const char* const SECTIONS[] = {"CGI", "Accept", "System", "Extra Headers"};

bridge::Environment read_pairs(std::string_view rest) {
  bridge::Environment env;
  while (rest.size() >= 1) {
    std::size_t name_size = static_cast<unsigned char>(rest[0]);
    rest.remove_prefix(1);
    if (rest.size() < name_size + 2) break;
    std::string name(rest.substr(0, name_size));
    rest.remove_prefix(name_size);
    std::size_t value_size = static_cast<unsigned char>(rest[0]) << 8 |
                             static_cast<unsigned char>(rest[1]);
    rest.remove_prefix(2);
    value_size = std::min(value_size, rest.size());
    env[name] = std::string(rest.substr(0, value_size));
    rest.remove_prefix(value_size);
  }
  return env;
}

bool plain_text(const std::string& value) {
  if (value.empty() || value.size() > bridge::MAX_VALUE_BYTES) return false;
  if (value.front() == ' ' || value.back() == ' ') return false;
  return !text::holds_control_byte(value);
}

bool header_word(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key) {
    bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                (c >= '0' && c <= '9') || c == '-';
    if (!word) return false;
  }
  return true;
}

using Sections = std::map<std::string, std::map<std::string, std::string>>;

// Reads `file` as the programs do, checking its shape on the way.
Sections read_file(const std::string& file) {
  Sections sections;
  std::size_t next_section = 0;
  std::string current;
  fuzz::check(file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0,
              "the file ends with CR LF");
  for (std::size_t pos = 0; pos < file.size();) {
    text::ProfileLine line = text::profile_line_at(file, pos);
    fuzz::check(
        file.compare(line.end, 2, "\r\n") == 0 && line.next == line.end + 2,
        "every line ends with CR LF", fuzz::escaped(file.substr(pos, 80)));
    std::string_view content(file.data() + line.begin, line.end - line.begin);
    pos = line.next;
    if (content.empty()) continue;
    fuzz::check(!text::holds_control_byte(content), "no control byte in a line",
                fuzz::escaped(content));
    std::string_view name, value;
    if (text::section_header(content, name)) {
      fuzz::check(next_section < 4 && name == SECTIONS[next_section],
                  "the four sections in order, once each", std::string(name));
      current = std::string(name);
      sections[current];
      ++next_section;
      continue;
    }
    fuzz::check(!current.empty(), "no key line before the first section");
    fuzz::check(text::split_key_line(content, name, value) && !name.empty() &&
                    !value.empty(),
                "a key line with a name and a value", fuzz::escaped(content));
    fuzz::check(value.size() <= bridge::MAX_VALUE_BYTES, "values are bounded");
    bool fresh = sections[current].emplace(name, value).second;
    fuzz::check(fresh, "no key twice in a section", std::string(name));
  }
  fuzz::check(next_section == 4, "all four sections are there");
  return sections;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  bridge::Environment env = read_pairs(input);
  const bridge::SpoolFiles files = {"/spool/wc1/cgi.dat", "/spool/wc1/cgi.con",
                                    "/spool/wc1/cgi.out"};
  Sections sections = read_file(bridge::data_file_text(env, files, 7, -3600));

  const std::map<std::string, std::string> system = {
      {"GMT Offset", "-3600"},
      {"Debug Mode", "No"},
      {"Output File", files.output},
      {"Content File", files.content}};
  fuzz::check(sections["System"] == system,
              "[System] holds the bridge's own values only");
  fuzz::check(sections["CGI"]["Content File"] == files.content,
              "[CGI] names the bridge's content file");
  for (const auto& entry : sections["Extra Headers"])
    fuzz::check(header_word(entry.first), "header keys are words and hyphens",
                entry.first);
  auto agent = env.find("HTTP_USER_AGENT");
  if (agent != env.end() && plain_text(agent->second))
    fuzz::check(sections["CGI"]["User Agent"] == agent->second,
                "a plain User-Agent comes through unchanged");
  return 0;
}
