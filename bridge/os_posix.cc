// os_posix.cc: the bridge's operating-system layer for POSIX.
#include "os.h"

#include "os_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

// Runs in the forked child: never returns.
[[noreturn]] void exec_child(const std::string& program,
                             const std::vector<std::string>& words,
                             const std::string& directory,
                             const std::string& messages,
                             std::uint64_t max_file_size) {
  setpgid(0, 0);
  signal(SIGPIPE, SIG_DFL);
  // Past the cap a write fails (the default SIGXFSZ action ends the program).
  struct rlimit size_limit;
  size_limit.rlim_cur = size_limit.rlim_max =
      static_cast<rlim_t>(max_file_size);
  setrlimit(RLIMIT_FSIZE, &size_limit);
  int null_input = open("/dev/null", O_RDONLY);
  int output =
      open(messages.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (null_input < 0 || output < 0 || dup2(null_input, 0) < 0 ||
      dup2(output, 1) < 0 || dup2(output, 2) < 0 ||
      chdir(directory.c_str()) != 0) {
    _exit(127);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& word : words)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
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
  std::string pattern = root;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += "wcXXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return false;
  folder = buffer.data();
  return true;
}

std::string default_temp_root() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

void remove_tree(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = folder + "/" + name;
      struct stat info;
      if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        remove_tree(path);
      } else {
        unlink(path.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

bool start_child(const std::string& program,
                 const std::vector<std::string>& words,
                 const std::string& directory, const std::string& messages,
                 std::uint64_t max_file_size, Child& child) {
  if (access(program.c_str(), X_OK) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) exec_child(program, words, directory, messages, max_file_size);
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

void kill_child(Child& child) {
  if (child.id <= 0) return;
  pid_t pid = static_cast<pid_t>(child.id);
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  forget_child(child);
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

}  // namespace bridge
