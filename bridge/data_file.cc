#include "data_file.h"

#include "ini_text.h"
#include "text/ascii.h"
#include "text/profile_line.h"

namespace bridge {
namespace {

// [CGI] keys and the CGI/1.1 variables they come from, in the order a
// Windows CGI server writes them.
struct KeySource {
  const char* key;
  const char* variable;
};

constexpr KeySource CGI_KEYS[] = {
    {"Request Protocol", "SERVER_PROTOCOL"},
    {"Request Method", "REQUEST_METHOD"},
    {"Executable Path", "SCRIPT_NAME"},
    {"Document Root", "DOCUMENT_ROOT"},
    {"Logical Path", "PATH_INFO"},
    {"Physical Path", "PATH_TRANSLATED"},
    {"Query String", "QUERY_STRING"},
    {"Request Range", "HTTP_RANGE"},
    {"Referer", "HTTP_REFERER"},
    {"From", "HTTP_FROM"},
    {"User Agent", "HTTP_USER_AGENT"},
    {"Content Type", "CONTENT_TYPE"},
    {"Server Software", "SERVER_SOFTWARE"},
    {"Server Name", "SERVER_NAME"},
    {"Server Port", "SERVER_PORT"},
    {"Server Admin", "SERVER_ADMIN"},
    {"Remote Host", "REMOTE_HOST"},
    {"Remote Address", "REMOTE_ADDR"},
    {"Authentication Method", "AUTH_TYPE"},
};

void add(std::string& file, const std::string& key, const std::string& value) {
  std::string clean = clean_value(value);
  // A value of blanks reads as empty: left out like an empty one.
  if (text::trim_profile_text(clean).empty()) return;
  file += text::key_line(key, clean);
}

void add_section(std::string& file, const char* name) {
  if (!file.empty()) file += text::PROFILE_LINE_END;
  file += text::section_line(name);
}

bool has_token(const std::string& list, const char* token) {
  std::string_view items = list;
  std::size_t start = 0;
  while (start <= items.size()) {
    std::size_t end = items.find(',', start);
    if (end == std::string::npos) end = items.size();
    std::string_view item = text::trim_blanks(items.substr(start, end - start));
    if (text::same_ignoring_case(item, token)) return true;
    start = end + 1;
  }
  return false;
}

void add_cgi_section(std::string& text, const Environment& env,
                     const SpoolFiles& files, std::uint64_t body_length) {
  add_section(text, "CGI");
  for (const KeySource& source : CGI_KEYS) {
    add(text, source.key, env_value(env, source.variable));
    if (std::string(source.key) == "Request Method")
      add(text, "Request Keep-Alive", keep_alive(env));
  }
  if (env.count("CONTENT_LENGTH"))
    add(text, "Content Length", std::to_string(body_length));
  add(text, "Content File", files.content);
  add(text, "CGI Version", "CGI/1.3a (Win)");
  std::string user = env_value(env, "REMOTE_USER");
  std::string basic_user, password;
  if (basic_credentials(env_value(env, "HTTP_AUTHORIZATION"), basic_user,
                        password) &&
      user.empty()) {
    user = basic_user;
  }
  add(text, "Authenticated Username", user);
  add(text, "Authenticated Password", password);
}

void add_accept_section(std::string& text, const Environment& env) {
  add_section(text, "Accept");
  for (const auto& entry : accept_entries(env_value(env, "HTTP_ACCEPT")))
    add(text, entry.first, entry.second);
}

void add_system_section(std::string& text, const SpoolFiles& files,
                        long gmt_offset) {
  add_section(text, "System");
  add(text, "GMT Offset", std::to_string(gmt_offset));
  add(text, "Debug Mode", "No");
  add(text, "Output File", files.output);
  add(text, "Content File", files.content);
}

void add_header_section(std::string& text, const Environment& env) {
  add_section(text, "Extra Headers");
  for (const auto& variable : env) {
    std::string key = header_key(variable.first);
    if (!key.empty()) add(text, key, variable.second);
  }
}

}  // namespace

std::string keep_alive(const Environment& env) {
  std::string connection = env_value(env, "HTTP_CONNECTION");
  if (has_token(connection, "close")) return "No";
  if (has_token(connection, "keep-alive")) return "Yes";
  return env_value(env, "SERVER_PROTOCOL") == "HTTP/1.1" ? "Yes" : "No";
}

std::string data_file_text(const Environment& env, const SpoolFiles& files,
                           std::uint64_t body_length, long gmt_offset) {
  std::string text;
  add_cgi_section(text, env, files, body_length);
  add_accept_section(text, env);
  add_system_section(text, files, gmt_offset);
  add_header_section(text, env);
  return text;
}

}  // namespace bridge
