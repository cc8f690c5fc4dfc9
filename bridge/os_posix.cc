// os_posix.cc: the bridge's operating-system layer for POSIX.
#include "os.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace bridge {
namespace {

volatile sig_atomic_t g_stop = 0;

void on_stop_signal(int) { g_stop = 1; }

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
                             const std::string& directory) {
  setpgid(0, 0);
  signal(SIGPIPE, SIG_DFL);
  int null_input = open("/dev/null", O_RDONLY);
  if (null_input < 0 || dup2(null_input, 0) < 0 || dup2(2, 1) < 0 ||
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

const char kExecutableSuffix[] = "";
const char kPathSeparators[] = "/";

void prepare_process() {
  signal(SIGPIPE, SIG_IGN);
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
                 const std::string& directory, Child& child) {
  if (access(program.c_str(), X_OK) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) exec_child(program, words, directory);
  setpgid(pid, pid);  // also here, so that a kill right away reaches it
  child.id = pid;
  return true;
}

ChildState poll_child(Child& child, int& exit_code) {
  int status = 0;
  pid_t done = waitpid(static_cast<pid_t>(child.id), &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return ChildState::kRunning;
  if (done < 0) {
    exit_code = -1;
  } else if (WIFEXITED(status)) {
    exit_code = WEXITSTATUS(status);
  } else {
    exit_code = 128 + WTERMSIG(status);
  }
  child.id = 0;
  return ChildState::kExited;
}

void kill_child(Child& child) {
  if (child.id <= 0) return;
  pid_t pid = static_cast<pid_t>(child.id);
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  child.id = 0;
}

bool write_stdout(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t written = write(1, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR && !g_stop) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool is_absolute(const std::string& name) {
  return !name.empty() && name[0] == '/';
}

}  // namespace bridge
