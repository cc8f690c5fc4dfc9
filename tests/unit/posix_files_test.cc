// The installer's POSIX file operations: copy, create directory, probe.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/case_lookup.h"
#include "test_support.h"

namespace {

using test_support::read_file;

namespace fs = std::filesystem;

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Files may grow to `limit` bytes while it lives; a longer write fails
// with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int);
};

mode_t mode_of(const std::string& path) {
  struct stat st;
  stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST(CopyFile, FailIfExistsLeavesTheDestinationAlone) {
  test_support::TempDir dir;
  std::string source = dir.write("a", "new");
  std::string target = dir.write("B", "old");
  EXPECT_FALSE(platform::copy_file(source, dir.prefix() + "b", true));
  EXPECT_EQ(read_file(target), "old");
  // Replacing reuses the existing name in its letter case.
  EXPECT_TRUE(platform::copy_file(source, dir.prefix() + "b", false));
  EXPECT_EQ(read_file(target), "new");
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "b"));
}

TEST(CopyFile, KeepsPermissionBitsAndFindsSourceInAnyCase) {
  test_support::TempDir dir;
  std::string source = dir.write("Prog._XE", "binary");
  chmod(source.c_str(), 0751);
  ASSERT_TRUE(platform::copy_file(dir.prefix() + "prog._xe",
                                  dir.prefix() + "prog.exe", true));
  EXPECT_EQ(read_file(dir.prefix() + "prog.exe"), "binary");
  EXPECT_EQ(mode_of(dir.prefix() + "prog.exe"), 0751u);
  std::string old = dir.write("old.exe", "x");
  chmod(old.c_str(), 0600);
  ASSERT_TRUE(platform::copy_file(source, old, false));
  EXPECT_EQ(mode_of(old), 0751u);
}

TEST(CopyFile, RefusesMissingSourceDirectoriesAndItself) {
  test_support::TempDir dir;
  std::string source = dir.write("same", "keep me");
  EXPECT_FALSE(platform::copy_file(source, source, false));
  EXPECT_FALSE(platform::copy_file(dir.prefix() + "SAME", source, false));
  EXPECT_EQ(read_file(source), "keep me");
  EXPECT_FALSE(
      platform::copy_file(dir.prefix() + "missing", dir.prefix() + "x", false));
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "x"));
  std::filesystem::create_directory(dir.prefix() + "sub");
  EXPECT_FALSE(platform::copy_file(source, dir.prefix() + "sub", false));
  EXPECT_FALSE(
      platform::copy_file(dir.prefix() + "sub", dir.prefix() + "y", false));
}

TEST(CopyFile, LinkAtTheDestinationIsReplacedNotFollowed) {
  test_support::TempDir dir;
  std::string source = dir.write("new", "new");
  std::string victim = dir.write("victim", "precious");
  fs::create_symlink(victim, dir.prefix() + "Whirlo32.exe");
  platform::note_file_system_change();
  ASSERT_TRUE(
      platform::copy_file(source, dir.prefix() + "whirlo32.exe", false));
  EXPECT_EQ(read_file(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(dir.prefix() + "Whirlo32.exe"));
  EXPECT_EQ(read_file(dir.prefix() + "Whirlo32.exe"), "new");
  EXPECT_EQ(names_in(dir.prefix()),
            (std::vector<std::string>{"Whirlo32.exe", "new", "victim"}));
}

TEST(CopyFile, FailedWriteKeepsTheOldFileWholeAndLeavesNothing) {
  test_support::TempDir dir;
  std::string source = dir.write("big", std::string(100000, 'n'));
  std::string old = dir.write("old.exe", std::string(5000, 'o'));
  {
    FileSizeLimit limit(65536);
    EXPECT_FALSE(platform::copy_file(source, old, false));
    EXPECT_FALSE(platform::copy_file(source, dir.prefix() + "fresh", true));
  }
  EXPECT_EQ(read_file(old), std::string(5000, 'o'));
  EXPECT_EQ(names_in(dir.prefix()),
            (std::vector<std::string>{"big", "old.exe"}));
}

TEST(CopyFile, TemporariesOfKilledCopiesAreRemovedByTheNext) {
  test_support::TempDir dir;
  std::string source = dir.write("src", "new");
  dir.write("prog.exe.~Ab12Z9", "half a copy");
  dir.write("prog.exe.~short", "not ours");
  dir.write("other.exe.~Ab12Z9", "another file's");
  ASSERT_TRUE(platform::copy_file(source, dir.prefix() + "prog.exe", true));
  EXPECT_EQ(names_in(dir.prefix()),
            (std::vector<std::string>{"other.exe.~Ab12Z9", "prog.exe",
                                      "prog.exe.~short", "src"}));
}

// A link planted under the probe's name, in any letter case, is removed
// and its target left alone; a dangling one does not stop the probe.
TEST(ProbeFile, RemovesLinksInAnyCaseNeverTheirTargets) {
  test_support::TempDir dir;
  std::string victim = dir.write("victim", "precious");
  fs::create_directory(dir.prefix() + "cgi");
  fs::create_symlink(victim, dir.prefix() + "cgi/~WHL.TMP");
  fs::create_symlink(dir.prefix() + "nowhere", dir.prefix() + "cgi/~whl.tmp");
  platform::note_file_system_change();
  EXPECT_TRUE(platform::probe_file(dir.prefix() + "CGI/~whl.tmp"));
  EXPECT_EQ(read_file(victim), "precious");
  EXPECT_TRUE(fs::is_empty(dir.prefix() + "cgi"));
  EXPECT_FALSE(fs::exists(dir.prefix() + "nowhere"));
}

TEST(ProbeFile, FailsOnADirectoryOfThatNameOrAMissingFolder) {
  test_support::TempDir dir;
  fs::create_directory(dir.prefix() + "~WHL.TMP");
  platform::note_file_system_change();
  EXPECT_FALSE(platform::probe_file(dir.prefix() + "~whl.tmp"));
  EXPECT_TRUE(fs::is_directory(dir.prefix() + "~WHL.TMP"));
  EXPECT_FALSE(platform::probe_file(dir.prefix() + "missing/~whl.tmp"));
  EXPECT_FALSE(fs::exists(dir.prefix() + "missing"));
}

TEST(CreateDirectory, OneLevelWhoseParentExists) {
  test_support::TempDir dir;
  EXPECT_TRUE(platform::create_directory(dir.prefix() + "anim/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.prefix() + "anim"));
  EXPECT_FALSE(platform::create_directory(dir.prefix() + "anim/"));
  EXPECT_FALSE(platform::create_directory(dir.prefix() + "a/b/"));
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "a"));
}

}  // namespace
