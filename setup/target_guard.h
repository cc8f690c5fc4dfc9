// target_guard.h: the POSIX installer's checks before its form: that the
// distribution set is at hand, and that no folder it writes into belongs
// to the package manager.
#ifndef WHIRLO_SETUP_TARGET_GUARD_H
#define WHIRLO_SETUP_TARGET_GUARD_H

#include <string>
#include <vector>

namespace setup {

/// The files of the distribution set that are missing from `folder`.
std::vector<std::string> missing_distribution_files(const std::string& folder);

/// Why the installer may not write into `directory`, "" when it may. The
/// package manager's folders are refused, judged by path after following
/// links: / itself, /usr and everything under it but /usr/local, /bin,
/// /sbin, the /lib folders, /boot, /etc itself (pelk.ini there is the
/// package's) and /var/lib. No package database is asked: a portable
/// program cannot, and what lies in these folders is the packages' by
/// the file system layout whether a package lists the file or not.
std::string managed_target_reason(const std::string& directory);

}  // namespace setup

#endif  // WHIRLO_SETUP_TARGET_GUARD_H
