// Crash safety of the POSIX profile writer: writer processes killed at
// random points while this process reads the file, and writes that fail
// part way. Readers must only ever see a whole file, old or new.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/unit/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int KILLS = 300;
const std::string SHORT_PATH = "/srv/whirlo/anim/";
// Long enough that the writer's temporary file lives a while, and that a
// torn file could not pass for a whole one by its size.
const std::string LONG_PATH = "/srv/" + std::string(40000, 'p') + "/";
const std::string GROUPS[] = {"Whirlo 32", "Animation Tools"};

// The whole file with one value of each rewritten key. The lines around
// them (other keys, other sections, LF-only ends, comments, blanks) must
// come through every rewrite unchanged.
std::string profile_text(bool long_path, int group) {
  std::string text =
      "; Whirlo-32 settings\r\n"
      "[Setup]\r\n"
      "Installed=Yes\r\n"
      "Group=" +
      GROUPS[group] +
      "\r\n"
      "  Program = whirlo32 \r\n"
      "\r\n"
      "[Whirl]\r\n"
      "Allow Only=www.example.com www.example.org\r\n"
      "Animation Path=" +
      (long_path ? LONG_PATH : SHORT_PATH) +
      "\r\n"
      "Allow Viewer=Mozilla\r\n"
      "[Extra]\n"
      "lf=only line ends\n"
      "[Frames]\r\n";
  for (int i = 1; i <= 300; ++i) {
    text += "Frame" + std::to_string(i) + "=whirlo" + std::to_string(i) +
            ".gif\r\n";
  }
  return text + "[Last]\r\nkey=kept";  // no line end at the very end
}

struct States {
  std::vector<std::string> texts;
  // The index of `bytes` among the whole files, or -1.
  int find(const std::string& bytes) const {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (texts[i] == bytes) return static_cast<int>(i);
    }
    return -1;
  }
  bool is_prefix_of_one(const std::string& bytes) const {
    for (const std::string& text : texts) {
      if (text.compare(0, bytes.size(), bytes) == 0 &&
          bytes.size() <= text.size()) {
        return true;
      }
    }
    return false;
  }
};

States all_states() {
  States states;
  for (bool long_path : {false, true}) {
    for (int group : {0, 1})
      states.texts.push_back(profile_text(long_path, group));
  }
  return states;
}

// Each step flips one of the two keys, so each completed write is one of
// the four whole files.
void write_forever(const std::string& path) {
  for (unsigned step = 0;; ++step) {
    bool ok = step % 2 == 0
                  ? platform::write_profile_string(
                        "Whirl", "Animation Path",
                        step % 4 == 0 ? LONG_PATH : SHORT_PATH, path)
                  : platform::write_profile_string("setup", "GROUP",
                                                   GROUPS[step % 4 == 1], path);
    if (!ok) _exit(3);
  }
}

// The reader: plain read(2), quick enough to look many times per write.
std::string read_file(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "(missing)";
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, n);
  close(fd);
  return n < 0 ? "(unreadable)" : bytes;
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

// What write_profile_string leaves when killed between creating its
// temporary file and renaming it: "<name>.~" and six characters, beside
// the file.
bool is_writer_temporary(const std::string& name) {
  const std::string stem = "pelk.ini.~";
  return name.size() == stem.size() + 6 &&
         name.compare(0, stem.size(), stem) == 0;
}

std::string describe_status(int status) {
  if (WIFEXITED(status))
    return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

unsigned chosen_seed() {
  if (const char* given = std::getenv("WHIRLO_SEED")) {
    return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
  }
  return std::random_device()();
}

TEST(ProfileCrashSafety, KilledWritersLeaveAWholeFileAndAtMostOneTemporary) {
  test_support::TempDir dir;
  const std::string path = dir.prefix() + "pelk.ini";
  const States states = all_states();
  dir.write("pelk.ini", states.texts[0]);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);

  // Kill times spread over a few writes, however fast this machine is.
  Clock::time_point start = Clock::now();
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(platform::write_profile_string(
        "Whirl", "Animation Path", i % 2 ? SHORT_PATH : LONG_PATH, path));
  }
  const auto write_time = (Clock::now() - start) / 8;
  ASSERT_TRUE(read_file(path) == states.texts[0]);

  const unsigned seed = chosen_seed();
  std::printf("seed %u (WHIRLO_SEED=%u repeats this run)\n", seed, seed);
  std::mt19937 random(seed);
  // Half the kills fall at any time over a few writes. The span from
  // creating the temporary file to the rename is a small part of a write,
  // so the other half fall shortly after a temporary file shows up.
  const long long write_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(write_time).count();
  std::uniform_int_distribution<long long> any_time_ns(0, 3 * write_ns);
  std::uniform_int_distribution<long long> after_sighting_ns(0, 100000);
  std::bernoulli_distribution after_sighting(0.5);

  int reads = 0, temporaries = 0, changed = 0, sightings = 0;
  std::vector<int> seen(states.texts.size());
  for (int kill_number = 0; kill_number < KILLS; ++kill_number) {
    const std::string before = read_file(path);
    const bool waits = after_sighting(random);
    const auto delay = std::chrono::nanoseconds(
        waits ? after_sighting_ns(random) : any_time_ns(random));
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) write_forever(path);

    bool armed = !waits;
    Clock::time_point deadline =
        Clock::now() + (armed ? delay : std::chrono::seconds(5));
    for (;;) {
      int state = states.find(read_file(path));
      ++reads;
      if (state < 0) {
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        FAIL() << "a reader saw a torn or foreign file, kill " << kill_number;
      }
      ++seen[state];
      const Clock::time_point now = Clock::now();
      if (!armed) {
        for (const std::string& name : folder_entries(dir.prefix())) {
          if (is_writer_temporary(name)) armed = true;
        }
        if (armed) {
          ++sightings;
          deadline = now + delay;
        }
      }
      if (now >= deadline) break;
    }
    ASSERT_EQ(kill(writer, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer " << describe_status(status);

    const std::string after = read_file(path);
    ASSERT_GE(states.find(after), 0) << "torn file after kill " << kill_number;
    if (after != before) ++changed;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "kill " << kill_number;

    // Killed writers do not clean up: one temporary, holding the start of
    // the file it was writing. Later writers leave it alone, so it is
    // removed here to see each kill's own remains.
    std::vector<std::string> others;
    for (const std::string& name : folder_entries(dir.prefix())) {
      if (name != "pelk.ini") others.push_back(name);
    }
    ASSERT_LE(others.size(), 1u)
        << "kill " << kill_number << " left " << others.size() << " files";
    if (!others.empty()) {
      ASSERT_TRUE(is_writer_temporary(others[0])) << others[0];
      const std::string temporary = dir.prefix() + others[0];
      EXPECT_TRUE(states.is_prefix_of_one(read_file(temporary)))
          << "the temporary " << others[0] << " holds something else";
      ASSERT_EQ(unlink(temporary.c_str()), 0);
      ++temporaries;
    }
  }
  std::printf(
      "%d kills (%d shortly after a temporary file showed up), "
      "%d reads (whole files seen: %d %d %d %d), %d kills changed "
      "the file, %d left a temporary file\n",
      KILLS, sightings, reads, seen[0], seen[1], seen[2], seen[3], changed,
      temporaries);
  // Without these the kills missed what they are meant to hit.
  EXPECT_GT(changed, 0) << "no writer finished a write before its kill";
  EXPECT_GT(temporaries, 0) << "no kill fell between temporary and rename";
}

// Runs one write in a child process prepared by `prepare`; the child's
// exit code is 0 when the write succeeded, 1 when it reported failure.
int write_in_child(void (*prepare)(const std::string& folder),
                   const std::string& folder, const std::string& value) {
  pid_t child = fork();
  if (child == 0) {
    prepare(folder);
    _exit(platform::write_profile_string("Whirl", "Animation Path", value,
                                         folder + "pelk.ini")
              ? 0
              : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Files larger than the short state cannot be written (EFBIG), as on a
// full disk.
void limit_file_size(const std::string&) {
  signal(SIGXFSZ, SIG_IGN);
  const rlim_t limit = profile_text(false, 1).size() + 4096;
  rlimit rl{limit, limit};
  if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(4);
}

// The folder is read-only for the writer; root ignores modes, so a root
// writer becomes nobody first.
void lose_write_permission(const std::string& folder) {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(5);
  if (access((folder + "pelk.ini").c_str(), R_OK) != 0) _exit(6);
  if (access(folder.c_str(), W_OK) == 0) _exit(7);
}

TEST(ProfileCrashSafety, FailedWritesReportFalseAndKeepTheOldFile) {
  const std::string old_text = profile_text(false, 0);
  struct Case {
    const char* name;
    void (*prepare)(const std::string&);
    mode_t folder_mode;
  };
  for (const Case& c :
       {Case{"file size limit", limit_file_size, 0755},
        Case{"read-only folder", lose_write_permission, 0555}}) {
    SCOPED_TRACE(c.name);
    test_support::TempDir dir;
    const std::string path = dir.write("pelk.ini", old_text);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.prefix().c_str(), c.folder_mode), 0);

    EXPECT_EQ(write_in_child(c.prepare, dir.prefix(), LONG_PATH), 1);
    EXPECT_TRUE(read_file(path) == old_text) << "the old file changed";
    EXPECT_EQ(folder_entries(dir.prefix()),
              std::vector<std::string>{"pelk.ini"});
    ASSERT_EQ(chmod(dir.prefix().c_str(), 0755), 0);
  }
  // Under the same size limit a write that fits goes through: the failure
  // above was the size.
  test_support::TempDir dir;
  const std::string path = dir.write("pelk.ini", old_text);
  EXPECT_EQ(write_in_child(limit_file_size, dir.prefix(), "/srv/other/"), 0);
  EXPECT_NE(read_file(path).find("Animation Path=/srv/other/\r\n"),
            std::string::npos);
  EXPECT_EQ(folder_entries(dir.prefix()), std::vector<std::string>{"pelk.ini"});
}

// A killed writer's temporary goes with the next write; one whose writer
// still holds its lock stays, and so do names of other patterns.
TEST(ProfileCrashSafety, NextWriterRemovesOnlyDeadWritersTemporaries) {
  test_support::TempDir dir;
  const std::string path = dir.write("pelk.ini", profile_text(false, 0));
  dir.write("pelk.ini.~dead01", "[Whirl]\r\nAnim");
  const std::string live = dir.write("pelk.ini.~live01", "[Whirl]\r\n");
  dir.write("pelk.ini.~x", "not a writer's");
  int held = open(live.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_TRUE(
      platform::write_profile_string("Whirl", "Allow Viewer", "Lynx", path));
  close(held);
  std::vector<std::string> left = folder_entries(dir.prefix());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"pelk.ini", "pelk.ini.~live01",
                                            "pelk.ini.~x"}));
}

}  // namespace
