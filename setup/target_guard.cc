#include "target_guard.h"

#include <filesystem>
#include <system_error>

#include "installation.h"
#include "platform/platform.h"

namespace setup {
namespace {

namespace fs = std::filesystem;

// Folders that are the package manager's with everything inside them.
constexpr const char* MANAGED_TREES[] = {"/usr",    "/bin",   "/sbin",
                                         "/lib",    "/lib32", "/lib64",
                                         "/libx32", "/boot",  "/var/lib"};
// Folders that are the package manager's themselves, not their subfolders.
constexpr const char* MANAGED_FOLDERS[] = {"/", "/etc", "/var"};
constexpr const char* ADMIN_TREES[] = {"/usr/local"};

bool inside(const std::string& path, const std::string& tree) {
  return path == tree ||
         (path.compare(0, tree.size(), tree) == 0 && path[tree.size()] == '/');
}

}  // namespace

std::vector<std::string> missing_distribution_files(const std::string& folder) {
  std::vector<std::string> missing;
  for (const std::string& name : distribution_files()) {
    std::string path = folder.empty() ? name : folder + "/" + name;
    if (!platform::file_exists(path)) missing.push_back(name);
  }
  return missing;
}

std::string managed_target_reason(const std::string& directory) {
  if (directory.empty()) return "";
  std::error_code error;
  fs::path absolute = fs::absolute(directory, error);
  if (error) return "";
  std::string path = fs::weakly_canonical(absolute, error).string();
  if (error) path = absolute.lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (const char* tree : ADMIN_TREES)
    if (inside(path, tree)) return "";
  bool managed = false;
  for (const char* tree : MANAGED_TREES) managed |= inside(path, tree);
  for (const char* folder : MANAGED_FOLDERS) managed |= path == folder;
  if (!managed) return "";
  return directory +
         (path == directory || path + "/" == directory ? ""
                                                       : " (" + path + ")") +
         " belongs to the package manager; choose a folder of your own, such "
         "as /var/www/cgi-win, /var/www/anim or one under /srv or "
         "/usr/local";
}

}  // namespace setup
