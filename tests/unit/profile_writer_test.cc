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

struct Edit {
  std::string text, section, key, value, expected;
};

TEST(ProfileEdit, Edits) {
  const std::string same = "[s]\n k = v \n";
  const Edit edits[] = {
      // A new file and a new section use CR LF.
      {"", "Whirl", "k", "v", "[Whirl]\r\nk=v\r\n"},
      {"[a]\nx=1", "b", "k", "", "[a]\nx=1\r\n[b]\r\nk=\r\n"},
      {"[a]\nx=1\n\n", "b", "k", "v", "[a]\nx=1\n\n[b]\r\nk=v\r\n"},
      // A new key follows the last filled line of the first section.
      {"[s]\nx=1\n\n\n[t]\ny=2\n[s]\nz=3\n", "S", "k", "v",
       "[s]\nx=1\nk=v\r\n\n\n[t]\ny=2\n[s]\nz=3\n"},
      {"[s]\n[t]\n", "s", "k", "v", "[s]\nk=v\r\n[t]\n"},
      {"[s]\rx=1", "s", "k", "v", "[s]\rx=1\r\nk=v\r\n"},
      // Replacing changes only the first matching line.
      {"pre=1\r\n[ S ]\r\n  Key  =  old ; x\r\nkey=second\r\n", "s", "KEY",
       "  new", "pre=1\r\n[ S ]\r\nKey=new\r\nkey=second\r\n"},
      // A name-only line is the key, as the reader sees it.
      {"[s]\nk\nk=2\n", "s", "k", "v", "[s]\nk=v\nk=2\n"},
      // A line starting with "[" but without "]" is no header.
      {"[s]\n[k=1\n", "s", "[k", "2", "[s]\n[k=2\n"},
      // The same value leaves the text alone.
      {same, "s", "k", "v", same},
  };
  for (const Edit& e : edits) {
    EXPECT_EQ(edit_profile_text(e.text, e.section, e.key, e.value), e.expected)
        << e.text;
  }
}

TEST(ProfileEdit, RefusesWhatWouldCorruptTheFile) {
  EXPECT_TRUE(platform::profile_write_allowed("Whirl", "Allow Only", ""));
  const std::string refused[][3] = {
      {"s", "k", "a\nb"},
      {"s", "k", "a\rb"},
      {"s", "k", std::string("a\0b", 3)},
      {"s\n", "k", "v"},
      {"s", "k=", "v"},
      {"s", " [k", "v"},
      {"s", "", "v"},
      {"s]", "k", "v"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(platform::profile_write_allowed(r[0], r[1], r[2]))
        << r[0] << " / " << r[1] << " / " << r[2];
  }
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
