// program_path.h: which Windows CGI program the bridge runs, and how.
#ifndef WHIRLO_BRIDGE_PROGRAM_PATH_H
#define WHIRLO_BRIDGE_PROGRAM_PATH_H

#include <string>

namespace bridge {

/// The folder part of `path` ("" when it has none).
std::string folder_of(const std::string& path);

/// The last component of `path`.
std::string file_name_of(const std::string& path);

/// True when the bridge runs as a non-parsed-header script ("nph-" name).
bool is_nph_name(const std::string& bridge_path);

/// The program to run. `setting` (WINCGI_PROGRAM), when given, is taken
/// relative to the bridge's folder. Otherwise the program is the file in
/// the bridge's folder named like the bridge without its "nph-" prefix and
/// without everything from the first dot: nph-whirlo32.cgi runs whirlo32
/// (whirlo32.exe on Windows, from whirlo32.cgi.exe; elsewhere too when only
/// that file exists, as the installer names it). "" when no name
/// results or it would be the bridge itself.
std::string program_path(const std::string& bridge_path,
                         const std::string& setting);

/// The fourth command-line word: the query string when it is an index
/// query (no "=") of visible characters only, else "".
std::string url_args_word(const std::string& query);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_PROGRAM_PATH_H
