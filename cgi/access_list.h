// access_list.h: the comma-separated lists "Allow Only" and "Allow Viewer".
#ifndef WHIRLO_CGI_ACCESS_LIST_H
#define WHIRLO_CGI_ACCESS_LIST_H

#include <string>

namespace cgi {

/// True when `value` is empty, `list` is empty, or one of the list's items
/// occurs in `value` (case-sensitive; items are taken exactly as they stand,
/// so an empty item allows everything). Callers pass a scratch copy of
/// the list, which this implementation leaves unchanged.
bool list_allows(const std::string& value, std::string& list);

}  // namespace cgi

#endif  // WHIRLO_CGI_ACCESS_LIST_H
