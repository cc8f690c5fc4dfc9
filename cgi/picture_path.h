// picture_path.h: composing picture paths from the query's names.
#ifndef WHIRLO_CGI_PICTURE_PATH_H
#define WHIRLO_CGI_PICTURE_PATH_H

#include <string>

namespace cgi {

/// True when a name taken from the query stays inside the animation
/// directory: no "/", "\\", ":" or "..".
bool is_confined_name(const std::string& name);

/// `directory` + `name` + `extension` when the name is confined and the
/// path fits 255 characters and its file name is no Windows device name
/// (CON, NUL, COM1, ...); false (no such picture) otherwise.
bool picture_path(const std::string& directory, const std::string& name,
                  const std::string& extension, std::string& path);

}  // namespace cgi

#endif  // WHIRLO_CGI_PICTURE_PATH_H
