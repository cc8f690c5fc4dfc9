#include "program_service.h"

#include <unistd.h>

#include "os_posix.h"

namespace bridge {
namespace {

const char USAGE[] =
    "usage: wincgi-bridge                 run by a CGI/1.1 server, one "
    "request\n"
    "       wincgi-bridge --fastcgi unix:PATH|ADDRESS:PORT --program PATH "
    "[options]\n"
    "       wincgi-bridge --program PATH [options]   (listening socket as "
    "standard input)\n"
    "\n"
    "FastCGI service options:\n"
    "  --program PATH       a program it may run (repeatable)\n"
    "  --programs DIR       it may run every program in DIR (repeatable)\n";

std::string describe_list(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

std::string ProgramService::usage() const { return USAGE; }

bool ProgramService::take_option(const std::string& option,
                                 const std::string& value, bool& known,
                                 std::string&) {
  known = true;
  if (option == "--program") {
    programs_.push_back(value);
  } else if (option == "--programs") {
    program_folders_.push_back(value);
  } else {
    known = false;
    return false;
  }
  return true;
}

bool ProgramService::prepare(ServiceOptions& options, std::string& problem) {
  for (const std::string& program : programs_) {
    std::string path = canonical_path(program);
    if (path.empty() || access(path.c_str(), X_OK) != 0) {
      problem = "--program " + program + ": not an executable file";
      return false;
    }
    options.programs.push_back(path);
  }
  for (const std::string& folder : program_folders_) {
    std::string path = canonical_path(folder);
    if (path.empty()) {
      problem = "--programs " + folder + ": no such folder";
      return false;
    }
    options.program_folders.push_back(path);
  }
  // Without either, the program its own environment names, when absolute.
  const std::string& own = options.settings.program;
  if (options.programs.empty() && options.program_folders.empty() &&
      is_absolute(own) && !canonical_path(own).empty())
    options.programs.push_back(canonical_path(own));
  if (options.programs.empty() && options.program_folders.empty()) {
    problem =
        "no program to serve: name it with --program PATH (or --programs "
        "DIR)";
    return false;
  }
  return true;
}

std::string ProgramService::serving(const ServiceOptions& options) const {
  std::string line;
  if (!options.programs.empty()) line += describe_list(options.programs);
  if (!options.program_folders.empty())
    line += std::string(options.programs.empty() ? "" : " and ") +
            "the programs in " + describe_list(options.program_folders);
  return line;
}

RunMaker& ProgramService::maker(const ServiceOptions& options) {
  maker_ = std::make_unique<ProgramRunMaker>(options);
  return *maker_;
}

}  // namespace bridge
