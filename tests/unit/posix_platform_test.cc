#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "platform/posix/case_lookup.h"
#include "test_support.h"

namespace {

using test_support::TempDir;

TEST(CaseLookup, ExactNameFirstThenEachComponentWithoutCase) {
  TempDir dir;
  std::filesystem::create_directory(dir.prefix() + "Anim");
  dir.write("Anim/whirlo1.gif", "1");
  std::string actual;
  EXPECT_EQ(platform::find_existing(dir.prefix() + "ANIM/WHIRLO1.GIF", actual),
            platform::EntryKind::FILE);
  EXPECT_EQ(actual, dir.prefix() + "Anim/whirlo1.gif");
  EXPECT_EQ(platform::find_existing(dir.prefix() + "anim", actual),
            platform::EntryKind::DIRECTORY);
  EXPECT_EQ(platform::find_existing(dir.prefix() + "anim/whirlo2.gif", actual),
            platform::EntryKind::MISSING);
}

TEST(CaseLookup, SmallestOfSeveralMatchesWins) {
  TempDir dir;
  dir.write("pic.gif", "lower");
  dir.write("PIC.gif", "upper");
  dir.write("Pic.GIF", "mixed");
  std::string actual;
  platform::note_file_system_change();
  ASSERT_EQ(platform::find_existing(dir.prefix() + "pIc.gif", actual),
            platform::EntryKind::FILE);
  EXPECT_EQ(actual, dir.prefix() + "PIC.gif");
}

TEST(PosixPlatform, DirectoriesExistButAreNotReadable) {
  TempDir dir;
  std::string actual;
  EXPECT_TRUE(platform::file_exists(dir.prefix()));
  EXPECT_FALSE(platform::readable_file_path(dir.prefix(), actual));
  EXPECT_FALSE(platform::delete_file(dir.prefix()));
}

// Opening a FIFO for reading blocks until a writer comes; a device may
// never end. Both exist, as frames are counted, but are never opened.
TEST(PosixPlatform, PipesAndDevicesExistButAreNotReadable) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir.prefix() + "Pipe.gif").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/zero", dir.prefix() + "zero.gif");
  platform::note_file_system_change();
  std::string actual;
  for (const char* name : {"pipe.gif", "ZERO.GIF"}) {
    EXPECT_TRUE(platform::file_exists(dir.prefix() + name)) << name;
    EXPECT_FALSE(platform::readable_file_path(dir.prefix() + name, actual))
        << name;
  }
  EXPECT_EQ(platform::find_existing(dir.prefix() + "pipe.gif", actual),
            platform::EntryKind::OTHER);
}

TEST(PosixPlatform, DeleteFindsTheFileInAnyCase) {
  TempDir dir;
  std::string path = dir.write("Data.INI", "x");
  EXPECT_TRUE(platform::delete_file(dir.prefix() + "data.ini"));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(platform::delete_file(dir.prefix() + "data.ini"));
  EXPECT_FALSE(platform::delete_file(""));
}

TEST(PosixPlatform, ProfileValuesAreCutToCapacity) {
  TempDir dir;
  std::string path = dir.write("p.ini", "[S]\nk=" + std::string(300, 'v'));
  EXPECT_EQ(platform::read_profile_string("S", "k", "", 255, path),
            std::string(254, 'v'));
  EXPECT_EQ(
      platform::read_profile_string("S", "x", std::string(300, 'd'), 255, path),
      std::string(254, 'd'));
  EXPECT_EQ(platform::read_profile_string("S", "x", "def  ", 255, path), "def");
  EXPECT_EQ(platform::read_profile_string("S", "k", "", 255, dir.prefix()), "");
  EXPECT_EQ(platform::read_profile_string("S", "k", "d", 255, path + ".none"),
            "d");
}

TEST(PosixPlatform, BareProfileNameMeansTheWindowsDirectory) {
  TempDir windir;
  windir.write("pelk.ini", "[Whirl]\nk=from windir\n");
  const char* saved = std::getenv("WINDIR");
  std::string restore = saved ? saved : "";
  setenv("WINDIR", windir.prefix().c_str(), 1);
  EXPECT_EQ(platform::read_profile_string("WHIRL", "K", "", 255, "PELK.INI"),
            "from windir");
  setenv("WINDIR", "", 1);  // empty means /etc, where no such file is
  EXPECT_EQ(platform::read_profile_string("WHIRL", "k", "none", 255,
                                          "no-such-whirlo-file.ini"),
            "none");
  if (saved)
    setenv("WINDIR", restore.c_str(), 1);
  else
    unsetenv("WINDIR");
}

}  // namespace
