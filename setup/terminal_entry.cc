#include "terminal_entry.h"

#include "settings_dialog.h"
#include "target_guard.h"
#include "terminal_form.h"
#include "text/product.h"

namespace setup {
namespace {

constexpr char USAGE[] =
    "usage: whirlo32-setup [--help | --version]\n"
    "Started in the folder that holds a distribution set (whirlo32._xe,\n"
    "whirlo32.hlp, whirlo32.wri, whirlo32._oc, whirlo1._if ... whirlo13._if),\n"
    "it asks on the terminal for the CGI directory, the animation directory,\n"
    "the referers allowed and the viewers that animate, copies the set there\n"
    "and writes pelk.ini into the CGI directory. Each field shows its value\n"
    "in brackets: a line replaces it, an empty line keeps it; then O (or an\n"
    "empty line), C or H for OK, Cancel or Help. Folders that belong to the\n"
    "package manager (/usr but /usr/local, /etc itself, ...) are refused.\n"
    "Exit status: 0 installed, 1 not installed, 2 bad usage.\n";

void explain_missing_set(const std::vector<std::string>& missing,
                         std::ostream& err) {
  err << "whirlo32-setup: no distribution set in this folder; missing:";
  for (const std::string& name : missing) err << " " << name;
  err << "\nStart it in a folder that holds the set: a build makes one in "
         "build/distribution (cmake --build build --target distribution).\n"
         "The Debian package needs no setup: it serves from its own folder "
         "with /etc/pelk.ini.\n";
}

}  // namespace

int run_terminal_setup(const std::vector<std::string>& args, std::istream& in,
                       std::ostream& out, std::ostream& err,
                       const StartDirectories& defaults) {
  if (args.size() == 1 && args[0] == "--help") {
    out << USAGE;
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "whirlo32-setup (" WHIRLO_PRODUCT ")\n";
    return 0;
  }
  if (!args.empty()) {
    err << "whirlo32-setup: unknown argument " << args[0] << "\n" << USAGE;
    return 2;
  }
  std::vector<std::string> missing = missing_distribution_files("");
  if (!missing.empty()) {
    explain_missing_set(missing, err);
    return 1;
  }
  TerminalUi ui(in, out);
  ui.guard_targets(defaults);
  run_setup(ui, defaults);
  return ui.installed() ? 0 : 1;
}

}  // namespace setup
