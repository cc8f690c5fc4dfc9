// profile_line.h: the line grammar of private-profile (INI) files, shared
// by their reader, their writer and the bridge's data files. Lines end at
// CR LF, CR or LF; a header is "[" ... "]"; a key line splits at its first
// "="; blanks and control bytes at either end of a line, name or value do
// not count.
#ifndef WHIRLO_TEXT_PROFILE_LINE_H
#define WHIRLO_TEXT_PROFILE_LINE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

/// The line end that written lines get.
inline constexpr char PROFILE_LINE_END[] = "\r\n";

/// One line of a text: its content is [begin, end), the next line starts
/// at next (after one CR LF, CR or LF).
struct ProfileLine {
  std::size_t begin, end, next;
};

/// The line that starts at `pos` (below text.size()).
ProfileLine profile_line_at(std::string_view text, std::size_t pos);

/// `s` less the blanks and control bytes that profile lines ignore at
/// both ends.
std::string_view trim_profile_text(std::string_view s);

/// True for a header line (trimmed), with `name` the trimmed text between
/// "[" and the last "]".
bool section_header(std::string_view line, std::string_view& name);

/// Splits a trimmed key line at its first "=": `name` and `value` trimmed.
/// False, with `value` empty, for a line without "=".
bool split_key_line(std::string_view line, std::string_view& name,
                    std::string_view& value);

inline bool is_control_byte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 32 || u == 127;
}

/// True when `s` holds a control byte (0-31 or 127). A name or value must
/// not: CR and LF would end its line, a NUL ends the value for readers,
/// and readers of text files give other control bytes, such as Ctrl-Z or
/// a tab, meanings of their own.
bool holds_control_byte(std::string_view s);

/// "[name]" and a line end.
std::string section_line(std::string_view name);

/// "key=value" and a line end.
std::string key_line(std::string_view key, std::string_view value);

}  // namespace text

#endif  // WHIRLO_TEXT_PROFILE_LINE_H
