// The installer's POSIX file operations: copy and create directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/platform.h"
#include "test_support.h"

namespace {

using test_support::read_file;

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
  EXPECT_FALSE(platform::copy_file(dir.prefix() + "missing",
                                   dir.prefix() + "x", false));
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "x"));
  std::filesystem::create_directory(dir.prefix() + "sub");
  EXPECT_FALSE(platform::copy_file(source, dir.prefix() + "sub", false));
  EXPECT_FALSE(platform::copy_file(dir.prefix() + "sub",
                                   dir.prefix() + "y", false));
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
