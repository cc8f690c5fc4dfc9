// The file-system objects: what the core relies on holds for the system's
// files (read directly or through the cache of a long-running process) and
// for the in-memory ones alike, and each keeps its own cache.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "memory_files/memory_file_system.h"
#include "platform/posix/caching_file_system.h"
#include "platform/posix/posix_file_system.h"
#include "test_support.h"

namespace {

using platform::EntryKind;
using test_support::TempDir;

// One tree, built the same way in a temporary folder or in memory.
class Tree {
 public:
  virtual ~Tree() = default;
  virtual std::string root() const = 0;  // with its trailing "/"
  virtual void file(const std::string& name, const std::string& bytes) = 0;
  virtual void folder(const std::string& name) = 0;
  virtual void pipe(const std::string& name) = 0;
  virtual platform::FileSystem& files() = 0;
};

template <typename System>
class DiskTree : public Tree {
 public:
  std::string root() const override { return dir_.prefix(); }
  void file(const std::string& name, const std::string& bytes) override {
    std::filesystem::path path(dir_.prefix() + name);
    std::filesystem::create_directories(path.parent_path());
    dir_.write(name, bytes);
  }
  void folder(const std::string& name) override {
    std::filesystem::create_directories(dir_.prefix() + name);
  }
  void pipe(const std::string& name) override {
    ASSERT_EQ(mkfifo((dir_.prefix() + name).c_str(), 0644), 0);
  }
  platform::FileSystem& files() override { return files_; }

 private:
  TempDir dir_;
  System files_;
};

class MemoryTree : public Tree {
 public:
  std::string root() const override { return "/site/"; }
  void file(const std::string& name, const std::string& bytes) override {
    ASSERT_TRUE(files_.add_file(root() + name, bytes));
  }
  void folder(const std::string& name) override {
    ASSERT_TRUE(files_.add_directory(root() + name));
  }
  void pipe(const std::string& name) override {
    ASSERT_TRUE(files_.add_other(root() + name));
  }
  platform::FileSystem& files() override { return files_; }

 private:
  memory_files::MemoryFileSystem files_;
};

enum class Kind { DISK, CACHED_DISK, MEMORY };

class FileSystemContract : public testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    switch (GetParam()) {
      case Kind::DISK:
        tree_ = std::make_unique<DiskTree<platform::PosixFileSystem>>();
        break;
      case Kind::CACHED_DISK:
        tree_ = std::make_unique<DiskTree<platform::CachingFileSystem>>();
        break;
      case Kind::MEMORY: tree_ = std::make_unique<MemoryTree>(); break;
    }
  }
  EntryKind find(const std::string& name, std::string& actual) {
    return tree_->files().find(tree_->root() + name, actual);
  }
  std::string read(const std::string& name) {
    std::string bytes = "untouched";
    if (!tree_->files().read_whole(tree_->root() + name, bytes)) return "-";
    return bytes;
  }

  std::unique_ptr<Tree> tree_;
};

TEST_P(FileSystemContract, NamesAreFoundWithoutCaseExactNameFirst) {
  tree_->folder("Anim");
  tree_->file("Anim/whirlo1.gif", "1");
  tree_->file("Anim/pic.gif", "lower");
  tree_->file("Anim/PIC.gif", "upper");
  tree_->file("Anim/Pic.GIF", "mixed");
  const std::string root = tree_->root();
  std::string actual;
  EXPECT_EQ(find("ANIM/WHIRLO1.GIF", actual), EntryKind::FILE);
  EXPECT_EQ(actual, root + "Anim/whirlo1.gif");
  EXPECT_EQ(find("anim", actual), EntryKind::DIRECTORY);
  EXPECT_EQ(actual, root + "Anim");
  EXPECT_EQ(find("Anim/pic.gif", actual), EntryKind::FILE);
  EXPECT_EQ(actual, root + "Anim/pic.gif");
  EXPECT_EQ(find("aNIM/pIc.gif", actual), EntryKind::FILE);
  EXPECT_EQ(actual, root + "Anim/PIC.gif");
  EXPECT_EQ(find("Anim/pIC.GIF", actual), EntryKind::FILE);
  EXPECT_EQ(actual, root + "Anim/PIC.gif");

  actual = "kept";
  EXPECT_EQ(find("anim/whirlo2.gif", actual), EntryKind::MISSING);
  EXPECT_EQ(find("anim/whirlo1.gif/x", actual), EntryKind::MISSING);
  EXPECT_EQ(tree_->files().find("", actual), EntryKind::MISSING);
  EXPECT_EQ(actual, "kept");
}

TEST_P(FileSystemContract, OnlyRegularFilesAreOpenedAndReadWhole) {
  tree_->folder("dir.gif");
  tree_->pipe("Pipe.gif");
  std::string awkward("\r\n\x1a\0\n\r\xff", 7), big;
  while (big.size() < 70000) big += awkward;
  tree_->file("big.gif", big);
  tree_->file("empty.gif", "");

  std::string actual;
  EXPECT_EQ(find("pipe.gif", actual), EntryKind::OTHER);
  // A pipe that is opened would block this test until a writer came.
  EXPECT_EQ(tree_->files().open(tree_->root() + "PIPE.GIF"), nullptr);
  EXPECT_EQ(tree_->files().open(tree_->root() + "dir.gif"), nullptr);
  EXPECT_EQ(tree_->files().open(tree_->root() + "none.gif"), nullptr);
  EXPECT_EQ(read("dir.gif"), "-");
  EXPECT_EQ(read("BIG.GIF"), big);
  EXPECT_EQ(read("empty.gif"), "");

  auto reader = tree_->files().open(tree_->root() + "big.gif");
  ASSERT_NE(reader, nullptr);
  char block[4096];
  std::string streamed;
  while (std::size_t got = reader->read(block, sizeof block)) {
    EXPECT_LE(got, sizeof block);
    streamed.append(block, got);
  }
  EXPECT_EQ(streamed, big);
  EXPECT_EQ(reader->read(block, sizeof block), 0u);
}

TEST_P(FileSystemContract, FoldersListTheirOwnNamesOnly) {
  tree_->file("a.gif", "a");
  tree_->file("B.GIF", "b");
  tree_->file("sub/c.gif", "c");
  std::vector<std::string> names;
  ASSERT_TRUE(tree_->files().list(tree_->root(), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.GIF", "a.gif", "sub"}));
  names.clear();
  EXPECT_FALSE(tree_->files().list(tree_->root() + "a.gif", names));
  EXPECT_FALSE(tree_->files().list(tree_->root() + "none", names));
}

TEST_P(FileSystemContract, ProfileValuesAndDefaultsAreCutToCapacity) {
  tree_->file("pelk.ini", "[WhirloCGI]\r\nAnimation Path=/frames/\r\n");
  platform::FileSystem& files = tree_->files();
  const std::string ini = tree_->root() + "PELK.INI";
  EXPECT_EQ(
      files.read_profile_string("whirlocgi", "animation path", "", 255, ini),
      "/frames/");
  EXPECT_EQ(
      files.read_profile_string("WhirloCGI", "Animation Path", "", 4, ini),
      "/fr");
  EXPECT_EQ(files.read_profile_string("WhirloCGI", "Allow", "dflt  ", 255, ini),
            "dflt");
  EXPECT_EQ(files.read_profile_string("WhirloCGI", "Animation Path", "d", 255,
                                      tree_->root() + "none.ini"),
            "d");
  EXPECT_EQ(
      files.read_profile_string("WhirloCGI", "Animation Path", "d", 0, ini),
      "");
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, FileSystemContract,
                         testing::Values(Kind::DISK, Kind::CACHED_DISK,
                                         Kind::MEMORY),
                         [](const testing::TestParamInfo<Kind>& info) {
                           switch (info.param) {
                             case Kind::DISK: return "Disk";
                             case Kind::CACHED_DISK: return "CachedDisk";
                             default: return "Memory";
                           }
                         });

// The listing cache belongs to the object: one that has listed a folder
// misses a file made since until told of the change; another object, with
// its own cache, sees it at once.
TEST(PosixFileSystem, EachObjectKeepsItsOwnListings) {
  TempDir dir;
  dir.write("old.gif", "o");
  platform::PosixFileSystem first;
  std::string actual;
  ASSERT_EQ(first.find(dir.prefix() + "OLD.GIF", actual), EntryKind::FILE);
  dir.write("new.gif", "n");
  EXPECT_EQ(first.find(dir.prefix() + "NEW.GIF", actual), EntryKind::MISSING);
  platform::PosixFileSystem second;
  EXPECT_EQ(second.find(dir.prefix() + "NEW.GIF", actual), EntryKind::FILE);
  first.note_change();
  EXPECT_EQ(first.find(dir.prefix() + "NEW.GIF", actual), EntryKind::FILE);
  EXPECT_EQ(actual, dir.prefix() + "new.gif");
}

TEST(MemoryFileSystem, NamesOnTheWayMustBeFolders) {
  memory_files::MemoryFileSystem files;
  ASSERT_TRUE(files.add_file("/a/b.gif", "b"));
  EXPECT_FALSE(files.add_file("/a/b.gif/c.gif", "c"));
  EXPECT_FALSE(files.add_directory("/a/b.gif/d"));
  EXPECT_FALSE(files.add_file("/a", "a"));  // a folder stays one
  ASSERT_TRUE(files.add_file("/a/b.gif", "new"));
  std::string bytes, actual;
  EXPECT_TRUE(files.read_whole("/A/B.GIF", bytes));
  EXPECT_EQ(bytes, "new");
  // Relative and absolute names are apart; "." and ".." are followed.
  EXPECT_EQ(files.find("a/b.gif", actual), EntryKind::MISSING);
  EXPECT_EQ(files.find("/a/./x/../b.gif", actual), EntryKind::MISSING);
  ASSERT_TRUE(files.add_directory("/a/x"));
  EXPECT_EQ(files.find("/a/./x/../B.gif", actual), EntryKind::FILE);
  EXPECT_EQ(actual, "/a/b.gif");
}

TEST(MemoryFileSystem, RemovingAFolderRemovesWhatIsInIt) {
  memory_files::MemoryFileSystem files;
  ASSERT_TRUE(files.add_file("/a/sub/c.gif", "c"));
  ASSERT_TRUE(files.add_file("/a/subway.gif", "s"));
  files.remove("/A/SUB");
  std::string actual;
  EXPECT_EQ(files.find("/a/sub", actual), EntryKind::MISSING);
  EXPECT_EQ(files.find("/a/sub/c.gif", actual), EntryKind::MISSING);
  EXPECT_EQ(files.find("/a/subway.gif", actual), EntryKind::FILE);
  std::vector<std::string> names;
  ASSERT_TRUE(files.list("/a", names));
  EXPECT_EQ(names, std::vector<std::string>{"subway.gif"});

  // Of names that differ only in case, the smallest left is found.
  ASSERT_TRUE(files.add_file("/a/PIC.gif", "1"));
  ASSERT_TRUE(files.add_file("/a/Pic.GIF", "2"));
  files.remove("/a/PIC.gif");
  EXPECT_EQ(files.find("/a/pic.gif", actual), EntryKind::FILE);
  EXPECT_EQ(actual, "/a/Pic.GIF");
  files.remove("/a/pic.GIF");
  EXPECT_EQ(files.find("/a/pic.gif", actual), EntryKind::MISSING);
  // A folder made again under the old name starts empty.
  ASSERT_TRUE(files.add_directory("/a/sub"));
  names.clear();
  ASSERT_TRUE(files.list("/a/sub", names));
  EXPECT_TRUE(names.empty());
}

// A reader keeps the bytes it was opened on, as an open file does.
TEST(MemoryFileSystem, AnOpenReaderOutlivesReplacementAndRemoval) {
  memory_files::MemoryFileSystem files;
  ASSERT_TRUE(files.add_file("/p.gif", "first"));
  auto reader = files.open("/p.gif");
  ASSERT_NE(reader, nullptr);
  files.add_file("/p.gif", "second");
  files.remove("/p.gif");
  char block[16];
  std::size_t got = reader->read(block, sizeof block);
  EXPECT_EQ(std::string(block, got), "first");
  EXPECT_EQ(files.opened(), 1u);
}

}  // namespace
