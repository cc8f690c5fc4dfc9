// The POSIX private-profile writer: in-place edits and the file handling.
#include "platform/posix/profile_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "test_support.h"

namespace {

using platform::edit_profile_text;
using test_support::read_file;

TEST(ProfileEdit, NewFileAndNewSectionUseCrLf) {
  EXPECT_EQ(edit_profile_text("", "Whirl", "k", "v"), "[Whirl]\r\nk=v\r\n");
  EXPECT_EQ(edit_profile_text("[a]\nx=1", "b", "k", ""),
            "[a]\nx=1\r\n[b]\r\nk=\r\n");
  EXPECT_EQ(edit_profile_text("[a]\nx=1\n\n", "b", "k", "v"),
            "[a]\nx=1\n\n[b]\r\nk=v\r\n");
}

TEST(ProfileEdit, NewKeyFollowsTheLastFilledLineOfTheFirstSection) {
  EXPECT_EQ(
      edit_profile_text("[s]\nx=1\n\n\n[t]\ny=2\n[s]\nz=3\n", "S", "k", "v"),
      "[s]\nx=1\nk=v\r\n\n\n[t]\ny=2\n[s]\nz=3\n");
  EXPECT_EQ(edit_profile_text("[s]\n[t]\n", "s", "k", "v"),
            "[s]\nk=v\r\n[t]\n");
  EXPECT_EQ(edit_profile_text("[s]\rx=1", "s", "k", "v"),
            "[s]\rx=1\r\nk=v\r\n");
}

TEST(ProfileEdit, ReplacingChangesOnlyTheFirstMatchingLine) {
  std::string text = "pre=1\r\n[ S ]\r\n  Key  =  old ; x\r\nkey=second\r\n";
  EXPECT_EQ(edit_profile_text(text, "s", "KEY", "  new"),
            "pre=1\r\n[ S ]\r\nKey=new\r\nkey=second\r\n");
  // A name-only line is the key, as the reader sees it.
  EXPECT_EQ(edit_profile_text("[s]\nk\nk=2\n", "s", "k", "v"),
            "[s]\nk=v\nk=2\n");
  // A line starting with "[" but without "]" is no header.
  EXPECT_EQ(edit_profile_text("[s]\n[k=1\n", "s", "[k", "2"), "[s]\n[k=2\n");
}

TEST(ProfileEdit, SameValueLeavesTheTextAlone) {
  std::string text = "[s]\n k = v \n";
  EXPECT_EQ(edit_profile_text(text, "s", "k", "v"), text);
}

TEST(ProfileEdit, RefusesWhatWouldCorruptTheFile) {
  EXPECT_TRUE(platform::profile_write_allowed("Whirl", "Allow Only", ""));
  EXPECT_FALSE(platform::profile_write_allowed("s", "k", "a\nb"));
  EXPECT_FALSE(platform::profile_write_allowed("s", "k", "a\rb"));
  EXPECT_FALSE(
      platform::profile_write_allowed("s", "k", std::string("a\0b", 3)));
  EXPECT_FALSE(platform::profile_write_allowed("s\n", "k", "v"));
  EXPECT_FALSE(platform::profile_write_allowed("s", "k=", "v"));
  EXPECT_FALSE(platform::profile_write_allowed("s", " [k", "v"));
  EXPECT_FALSE(platform::profile_write_allowed("s", "", "v"));
  EXPECT_FALSE(platform::profile_write_allowed("s]", "k", "v"));
}

TEST(ProfileFile, WritesReadsBackAndLeavesNoTemporaryFile) {
  test_support::TempDir dir;
  std::string path = dir.prefix() + "pelk.ini";
  ASSERT_TRUE(platform::write_profile_string("Whirl", "a", "1", path));
  ASSERT_TRUE(platform::write_profile_string("Whirl", "b", "2", path));
  EXPECT_EQ(read_file(path), "[Whirl]\r\na=1\r\nb=2\r\n");
  EXPECT_EQ(platform::read_profile_string("WHIRL", "B", "", 255, path), "2");
  auto it = std::filesystem::directory_iterator(dir.prefix());
  EXPECT_EQ(std::distance(begin(it), end(it)), 1);
  EXPECT_FALSE(platform::write_profile_string("Whirl", "a", "x\ny", path));
  EXPECT_EQ(read_file(path), "[Whirl]\r\na=1\r\nb=2\r\n");
}

TEST(ProfileFile, ReplacesAtomicallyKeepingModeAndExistingName) {
  test_support::TempDir dir;
  std::string actual = dir.write("PELK.INI", "[Whirl]\r\na=1\r\n");
  chmod(actual.c_str(), 0640);
  struct stat before, after;
  stat(actual.c_str(), &before);
  // The same value: the file is not rewritten at all.
  ASSERT_TRUE(platform::write_profile_string("whirl", "A", "1",
                                             dir.prefix() + "pelk.ini"));
  stat(actual.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);

  ASSERT_TRUE(platform::write_profile_string("whirl", "A", "2",
                                             dir.prefix() + "pelk.ini"));
  stat(actual.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
  EXPECT_EQ(after.st_mode & 0777, 0640u);
  EXPECT_EQ(read_file(actual), "[Whirl]\r\na=2\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "pelk.ini"));
}

TEST(ProfileFile, MissingFolderOrDirectoryFails) {
  test_support::TempDir dir;
  EXPECT_FALSE(platform::write_profile_string("s", "k", "v",
                                              dir.prefix() + "no/pelk.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir.prefix() + "no"));
  std::filesystem::create_directory(dir.prefix() + "d.ini");
  EXPECT_FALSE(
      platform::write_profile_string("s", "k", "v", dir.prefix() + "d.ini"));
}

TEST(ProfileFile, BareNameIsWrittenInTheWindowsDirectory) {
  test_support::TempDir windows;
  const char* old = std::getenv("WINDIR");
  std::string saved = old ? old : "";
  setenv("WINDIR", windows.prefix().c_str(), 1);
  EXPECT_TRUE(platform::write_profile_string("s", "k", "v", "bare.ini"));
  if (old)
    setenv("WINDIR", saved.c_str(), 1);
  else
    unsetenv("WINDIR");
  EXPECT_EQ(read_file(windows.prefix() + "bare.ini"), "[s]\r\nk=v\r\n");
}

}  // namespace
