// The cache of a long-running process: what it keeps, and that a change to
// the files is seen by the next request however the change was made.
#include "platform/posix/caching_file_system.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "test_support.h"

namespace {

using platform::CacheBounds;
using platform::CachingFileSystem;
using platform::EntryKind;
using test_support::TempDir;

// Files count as settled 100 ms after their last change, so that a test
// can wait for it; waiting longer than that only settles them further.
constexpr auto SETTLE = std::chrono::milliseconds(100);

CacheBounds short_settling() {
  CacheBounds bounds;
  bounds.settle_ns = std::chrono::nanoseconds(SETTLE).count();
  return bounds;
}

void let_settle() { std::this_thread::sleep_for(SETTLE * 3 / 2); }

// Overwrites the file in place: the same inode, the same size if the bytes
// are as long as before.
void rewrite_in_place(const std::string& path, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class CachingFileSystemTest : public testing::Test {
 protected:
  std::string read(const std::string& name) {
    files_.new_request();
    std::string bytes;
    if (!files_.read_whole(dir_.prefix() + name, bytes)) return "-";
    return bytes;
  }
  std::string found(const std::string& name) {
    files_.new_request();
    std::string actual;
    if (files_.find(dir_.prefix() + name, actual) == EntryKind::MISSING)
      return "-";
    return actual.substr(dir_.prefix().size());
  }

  TempDir dir_;
  CachingFileSystem files_{short_settling()};
};

TEST_F(CachingFileSystemTest,
       SettledFilesAreKeptAndChangesSeenByTheNextRequest) {
  const std::string path = dir_.write("f1.gif", "aaaa");
  let_settle();
  EXPECT_EQ(read("F1.GIF"), "aaaa");
  EXPECT_EQ(files_.held_bytes(), 4u);
  EXPECT_EQ(read("f1.gif"), "aaaa");

  // Same size, same inode, and the old modification time put back: only
  // the status change time tells.
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  rewrite_in_place(path, "bbbb");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(read("f1.gif"), "bbbb");

  // Replaced by another file under the same name.
  dir_.write("f1.tmp", "cccc");
  ASSERT_EQ(std::rename((dir_.prefix() + "f1.tmp").c_str(), path.c_str()), 0);
  EXPECT_EQ(read("f1.gif"), "cccc");
  std::filesystem::remove(path);
  EXPECT_EQ(read("f1.gif"), "-");
}

TEST_F(CachingFileSystemTest, FreshFilesAreReadEachTimeUntilSettled) {
  const std::string path = dir_.write("f1.gif", "aaaa");
  EXPECT_EQ(read("f1.gif"), "aaaa");
  EXPECT_EQ(files_.held_bytes(), 0u);
  rewrite_in_place(path, "bbbb");  // within the timestamps' granularity
  EXPECT_EQ(read("f1.gif"), "bbbb");
}

TEST_F(CachingFileSystemTest, NamesAddedOrRemovedInAKeptFolderAreSeen) {
  dir_.write("Whirlo1.GIF", "1");
  let_settle();
  EXPECT_EQ(found("whirlo1.gif"), "Whirlo1.GIF");
  EXPECT_EQ(found("whirlo2.gif"), "-");
  dir_.write("WHIRLO2.gif", "2");
  EXPECT_EQ(found("whirlo2.gif"), "WHIRLO2.gif");
  // A name that matches exactly now wins over the kept listing's match.
  dir_.write("whirlo1.gif", "exact");
  EXPECT_EQ(found("whirlo1.gif"), "whirlo1.gif");
  std::filesystem::remove(dir_.prefix() + "whirlo1.gif");
  std::filesystem::remove(dir_.prefix() + "Whirlo1.GIF");
  EXPECT_EQ(found("whirlo1.gif"), "-");
}

TEST(CachingFileSystem, KeepsNoMoreThanItsBounds) {
  TempDir dir;
  std::string big(3000, 'b'), small(1000, 's');
  dir.write("big.gif", big);
  for (int n = 1; n <= 5; ++n) dir.write("s" + std::to_string(n), small);
  let_settle();
  CacheBounds bounds = short_settling();
  bounds.max_file = 2000;
  bounds.max_bytes = 2500;
  CachingFileSystem files(bounds);
  std::string bytes;
  ASSERT_TRUE(files.read_whole(dir.prefix() + "big.gif", bytes));
  EXPECT_EQ(bytes, big);
  EXPECT_EQ(files.held_bytes(), 0u);
  for (int n = 1; n <= 5; ++n) {
    ASSERT_TRUE(
        files.read_whole(dir.prefix() + "s" + std::to_string(n), bytes));
    EXPECT_EQ(bytes, small);
    EXPECT_LE(files.held_bytes(), bounds.max_bytes);
  }
}

// A reader handed out keeps its bytes, whatever happens to the file.
TEST(CachingFileSystem, AReaderKeepsTheBytesItWasOpenedWith) {
  TempDir dir;
  const std::string path = dir.write("f.gif", "old!");
  let_settle();
  CachingFileSystem files(short_settling());
  auto reader = files.open(path);
  ASSERT_NE(reader, nullptr);
  rewrite_in_place(path, "new!");
  files.new_request();
  std::string fresh;
  ASSERT_TRUE(files.read_whole(path, fresh));
  EXPECT_EQ(fresh, "new!");
  char block[8];
  ASSERT_EQ(reader->read(block, sizeof block), 4u);
  EXPECT_EQ(std::string(block, 4), "old!");
}

}  // namespace
