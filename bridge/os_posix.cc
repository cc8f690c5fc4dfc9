// os_posix.cc: the bridge's operating-system layer for POSIX.
#include "os.h"

#include "os_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "text/write_all.h"

extern char** environ;

namespace bridge {
namespace {

volatile sig_atomic_t g_stop = 0;
int g_stop_pipe[2] = {-1, -1};

// The pipe wakes a wait that began just before the signal came.
void on_stop_signal(int) {
  g_stop = 1;
  int saved = errno;
  if (g_stop_pipe[1] >= 0) {
    ssize_t ignored = write(g_stop_pipe[1], "", 1);
    (void)ignored;
  }
  errno = saved;
}

void catch_signal(int number) {
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

std::string working_directory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// A private folder is locked (flock on the folder itself) by the bridge
// process that made it, and holds LOCK_MARK once locked: a marked folder
// whose lock can be taken belongs to a bridge that is gone.
constexpr char FOLDER_PREFIX[] = "wc";
constexpr char LOCK_MARK[] = "cgi.lck";

std::map<std::string, int>& folder_locks() {
  static std::map<std::string, int> locks;  // folder -> its locked descriptor
  return locks;
}

std::set<std::string>& swept_roots() {
  static std::set<std::string> roots;
  return roots;
}

std::string with_slash(const std::string& root) {
  return root.empty() || root.back() != '/' ? root + "/" : root;
}

void remove_files(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = folder + "/" + name;
      struct stat info;
      if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        remove_files(path);
      } else {
        unlink(path.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

// What the child needs, made before it starts: after vfork it shares the
// bridge's memory, so it may only make system calls.
struct ChildSetup {
  const char* program;
  char* const* argv;
  const char* directory;
  const char* messages;  // standard output and error go here
  rlimit size_limit;
  pid_t parent;
  sigset_t mask;  // the bridge's own signal mask
};

void close_from(int first) {
  if (syscall(SYS_close_range, first, ~0U, 0) == 0) return;
  rlimit open_files;
  if (getrlimit(RLIMIT_NOFILE, &open_files) != 0) _exit(127);
  for (rlim_t fd = first; fd < open_files.rlim_cur; ++fd)
    close(static_cast<int>(fd));
}

// Runs in the child: never returns. It ends with the bridge, in a process
// group of its own, with descriptors 0, 1 and 2 only.
[[noreturn]] void exec_child(const ChildSetup& setup) {
  setpgid(0, 0);
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != setup.parent)
    _exit(127);
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  for (int number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
    sigaction(number, &default_action, nullptr);
  sigprocmask(SIG_SETMASK, &setup.mask, nullptr);
  // Past the cap a write fails (the default SIGXFSZ action ends the program).
  setrlimit(RLIMIT_FSIZE, &setup.size_limit);
  int null_input = open("/dev/null", O_RDONLY);
  int output =
      open(setup.messages, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (null_input < 0 || output < 0 ||
      (null_input != 0 && dup2(null_input, 0) < 0) || dup2(output, 1) < 0 ||
      dup2(output, 2) < 0 || chdir(setup.directory) != 0) {
    _exit(127);
  }
  close_from(3);
  execv(setup.program, setup.argv);
  _exit(127);
}

}  // namespace

const bool EXIT_CODE_IS_BYTE = true;
const char EXECUTABLE_SUFFIX[] = "";
const char PATH_SEPARATORS[] = "/";

void prepare_process() {
  signal(SIGPIPE, SIG_IGN);
  if (g_stop_pipe[0] < 0 && pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    g_stop_pipe[0] = g_stop_pipe[1] = -1;
  catch_signal(SIGTERM);
  catch_signal(SIGINT);
  catch_signal(SIGHUP);
}

bool stop_requested() { return g_stop != 0; }

std::map<std::string, std::string> environment() {
  std::map<std::string, std::string> result;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    result.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return result;
}

// A server that runs the bridge by its bare name (Apache) has made the
// bridge's folder the current directory.
std::string own_path(const char* argv0) {
  std::string name = argv0 ? argv0 : "";
  if (!name.empty() && name[0] == '/') return name;
  return working_directory() + "/" + name;
}

bool make_private_folder(const std::string& root, std::string& folder) {
  if (!swept_roots().count(root)) sweep_temp_root(root);
  std::string pattern = with_slash(root) + FOLDER_PREFIX + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return false;
  std::string made = buffer.data();
  int lock = open(made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int mark = -1;
  if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0)
    mark = open((made + "/" + LOCK_MARK).c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (mark < 0) {
    if (lock >= 0) close(lock);
    remove_files(made);
    return false;
  }
  close(mark);
  folder_locks()[made] = lock;
  folder = made;
  return true;
}

std::size_t sweep_temp_root(const std::string& root) {
  swept_roots().insert(root);
  std::vector<std::string> candidates;
  if (DIR* dir = opendir(root.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() == 8 && name.compare(0, 2, FOLDER_PREFIX) == 0)
        candidates.push_back(with_slash(root) + name);
    }
    closedir(dir);
  }
  std::size_t removed = 0;
  for (const std::string& path : candidates) {
    int fd =
        open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info;
    if (fstat(fd, &info) == 0 && info.st_uid == geteuid() &&
        faccessat(fd, LOCK_MARK, F_OK, AT_SYMLINK_NOFOLLOW) == 0 &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      remove_files(path);
      ++removed;
    }
    close(fd);
  }
  return removed;
}

std::string default_temp_root() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

void remove_tree(const std::string& folder) {
  remove_files(folder);
  auto lock = folder_locks().find(folder);
  if (lock != folder_locks().end()) {
    close(lock->second);
    folder_locks().erase(lock);
  }
}

bool start_child(const std::string& program,
                 const std::vector<std::string>& words,
                 const std::string& directory, const std::string& messages,
                 std::uint64_t max_file_size, Child& child) {
  if (access(program.c_str(), X_OK) != 0) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& word : words)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  ChildSetup setup;
  setup.program = program.c_str();
  setup.argv = argv.data();
  setup.directory = directory.c_str();
  setup.messages = messages.c_str();
  setup.size_limit.rlim_cur = setup.size_limit.rlim_max =
      static_cast<rlim_t>(max_file_size);
  setup.parent = getpid();
  // No handler of the bridge's may run in the child before it execs.
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &setup.mask);
  pid_t pid = vfork();
  if (pid == 0) exec_child(setup);
  sigprocmask(SIG_SETMASK, &setup.mask, nullptr);
  if (pid < 0) return false;
  setpgid(pid, pid);  // also here, so that a kill right away reaches it
  child.id = pid;
  child.event = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (child.event >= 0) fcntl(child.event, F_SETFD, FD_CLOEXEC);
  return true;
}

namespace {

void forget_child(Child& child) {
  if (child.event >= 0) close(child.event);
  child.forget();
}

}  // namespace

ChildState poll_child(Child& child, ProgramExit& exit) {
  if (child.id <= 0) return ChildState::EXITED;
  int status = 0;
  pid_t done = waitpid(static_cast<pid_t>(child.id), &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return ChildState::RUNNING;
  exit = ProgramExit();
  if (done < 0) {
    exit.code = -1;
  } else if (WIFEXITED(status)) {
    exit.code = WEXITSTATUS(status);
  } else {
    exit.signal = WTERMSIG(status);
    exit.code = 128 + exit.signal;
  }
  forget_child(child);
  return ChildState::EXITED;
}

// Killed programs not collected yet: the FastCGI loop must not wait for a
// kill to take effect, so it collects them later.
std::vector<pid_t>& killed_children() {
  static std::vector<pid_t> pids;
  return pids;
}

void kill_child(Child& child) {
  if (child.id <= 0) return;
  pid_t pid = static_cast<pid_t>(child.id);
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  pid_t done;
  while ((done = waitpid(pid, nullptr, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == 0) killed_children().push_back(pid);
  forget_child(child);
}

std::size_t collect_killed_children(bool wait) {
  std::vector<pid_t>& pids = killed_children();
  std::size_t kept = 0;
  for (pid_t pid : pids) {
    pid_t done;
    while ((done = waitpid(pid, nullptr, wait ? 0 : WNOHANG)) < 0 &&
           errno == EINTR) {
    }
    if (done == 0) pids[kept++] = pid;
  }
  pids.resize(kept);
  return kept;
}

std::uint64_t file_size(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

int stop_fd() { return g_stop_pipe[0]; }

bool write_stdout(const std::string& data) {
  auto write_some = [](const char* part, std::size_t length) {
    ssize_t written;
    do {
      written = write(1, part, length);
    } while (written < 0 && errno == EINTR && !g_stop);
    return written;
  };
  return text::write_all(data.data(), data.size(), write_some);
}

bool is_absolute(const std::string& name) {
  return !name.empty() && name[0] == '/';
}

std::string canonical_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string result = resolved;
  std::free(resolved);
  return result;
}

}  // namespace bridge
