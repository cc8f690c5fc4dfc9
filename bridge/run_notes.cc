#include "run_notes.h"

#include <fstream>

#include "check.h"
#include "program_exit.h"
#include "program_path.h"
#include "text/ascii.h"

namespace bridge {
namespace {

constexpr std::size_t MAX_LABEL = 300;
constexpr int EMPTY_RANGE = 1005;

std::string g_request;

// Up to `limit` bytes of the file at `path`, and its whole size.
std::string read_head(const std::string& path, std::size_t limit,
                      std::uint64_t& size) {
  std::ifstream file(path, std::ios::binary);
  std::string text(limit, '\0');
  file.read(&text[0], static_cast<std::streamsize>(limit));
  text.resize(static_cast<std::size_t>(file.gcount()));
  size = file_size(path);
  return text;
}

std::string escaped(const std::string& text, std::size_t limit) {
  static const char HEX[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= limit) return out + "...";
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += HEX[c >> 4];
      out += HEX[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void log_messages(const Job& job) {
  std::uint64_t size = 0;
  std::string text =
      read_head(messages_path(job.spool.files()), MAX_MESSAGE_BYTES, size);
  log_program_messages(file_name_of(job.program), text, size);
}

// The frame names that the request's query asks for, as the program forms
// them: the upper-cased base name before the first "?", then the number
// and the extension field's first four characters; and how frame 1 of
// them stands.
std::string describe_frames(const Environment& env, const ConfigView& view) {
  std::string query = env_value(env, "QUERY_STRING");
  std::string base = "Whirlo", extension = ".GIF";
  if (!query.empty()) {
    std::size_t mark = query.find('?');
    base = text::upper_case(query.substr(0, mark));
    extension.clear();
    if (mark != std::string::npos)
      extension = text::upper_case(query.substr(mark + 1, 4));
  }
  std::string prefix = picture_prefix(view);
  std::string first = prefix + base + "1" + extension;
  return "frames looked for as " +
         escaped(prefix + base + "<n>" + extension, MAX_LABEL) + " (" +
         escaped(first, MAX_LABEL) + ": " + file_state(first) + ")";
}

void diagnose(const Job& job, const std::string& what) {
  diagnose_frames(view_configuration(folder_of(job.program)), job.env, what);
}

}  // namespace

void log_program_messages(const std::string& name, const std::string& text,
                          std::uint64_t size) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) log_line(name + ": " + escaped(line, MAX_MESSAGE_BYTES));
    start = end + 1;
  }
  if (size > text.size())
    log_line(name + ": " + std::to_string(size - text.size()) +
             " more bytes of messages not logged");
}

void diagnose_frames(const ConfigView& view, const Environment& env,
                     const std::string& what) {
  log_line(what + ": " + describe_configuration(view) + "; " +
           describe_frames(env, view));
}

std::string messages_path(const SpoolFiles& files) {
  return folder_of(files.output) + PATH_SEPARATORS[0] + "cgi.msg";
}

std::string request_label(const Environment& env) {
  return request_label(env_value(env, "SCRIPT_NAME"),
                       env_value(env, "QUERY_STRING"));
}

std::string request_label(const std::string& script_name,
                          const std::string& query) {
  return escaped(query.empty() ? script_name : script_name + "?" + query,
                 MAX_LABEL);
}

RequestScope::RequestScope(const Environment& env)
    : RequestScope(request_label(env)) {}

RequestScope::RequestScope(std::string label) : previous_(g_request) {
  g_request = std::move(label);
}

RequestScope::~RequestScope() { g_request = previous_; }

const std::string& logged_request() { return g_request; }

bool is_empty_push_stream(const std::string& output) {
  std::size_t end = output.find("\n\n");
  std::size_t crlf = output.find("\r\n\r\n");
  if (crlf != std::string::npos && (end == std::string::npos || crlf < end))
    end = crlf + 2;
  if (end == std::string::npos) return false;
  if (text::upper_case(output.substr(0, end))
          .find("MULTIPART/X-MIXED-REPLACE") == std::string::npos)
    return false;
  std::string body = output.substr(end + 2);
  std::size_t line_end = body.find('\n');
  if (body.compare(0, 2, "--") == 0)
    body = line_end == std::string::npos ? "" : body.substr(line_end + 1);
  return body.find_first_not_of(" \t\r\n") == std::string::npos;
}

RunNotes::RunNotes(const Job& job, const RelayReport& report)
    : scope_(job.env) {
  log_messages(job);
  if (report.exited && error_number(report.exit) == EMPTY_RANGE) {
    diagnose(job, "no frame to play (error 1005)");
  } else if (report.exited && !report.timed_out && !report.over_cap) {
    std::uint64_t size = 0;
    std::string head =
        read_head(job.spool.files().output, MAX_MESSAGE_BYTES, size);
    if (size <= head.size() && is_empty_push_stream(head))
      diagnose(job, "the push stream ended without a picture");
  }
}

}  // namespace bridge
