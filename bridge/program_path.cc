#include "program_path.h"

#include "os.h"
#include "platform/platform.h"

namespace bridge {

std::string folder_of(const std::string& path) {
  std::size_t last = path.find_last_of(PATH_SEPARATORS);
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string file_name_of(const std::string& path) {
  std::size_t last = path.find_last_of(PATH_SEPARATORS);
  return last == std::string::npos ? path : path.substr(last + 1);
}

bool is_nph_name(const std::string& bridge_path) {
  return file_name_of(bridge_path).compare(0, 4, "nph-") == 0;
}

std::string program_path(const std::string& bridge_path,
                         const std::string& setting) {
  std::string folder = folder_of(bridge_path) + PATH_SEPARATORS[0];
  if (!setting.empty())
    return is_absolute(setting) ? setting : folder + setting;
  std::string name = file_name_of(bridge_path);
  if (is_nph_name(bridge_path)) name.erase(0, 4);
  std::size_t dot = name.find('.');  // whirlo32.cgi, and whirlo32.cgi.exe
  if (dot != std::string::npos) name.erase(dot);
  if (name.empty()) return std::string();
  std::string program = folder + name + EXECUTABLE_SUFFIX;
  // The installer names the program whirlo32.exe on every platform.
  const std::string installed = folder + name + ".exe";
  if (!platform::file_exists(program) && platform::file_exists(installed))
    program = installed;
  return program == bridge_path ? std::string() : program;
}

std::string url_args_word(const std::string& query) {
  for (unsigned char c : query) {
    if (c <= ' ' || c >= 127 || c == '=') return std::string();
  }
  return query;
}

}  // namespace bridge
