// os.h: what the bridge needs from the operating system. Implemented in
// os_posix.cc and os_win32.cc; CMake picks one. Nothing here throws.
#ifndef WHIRLO_BRIDGE_OS_H
#define WHIRLO_BRIDGE_OS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bridge {

struct Child;

/// Ends the child and everything it started, and collects it (on POSIX
/// without waiting: one that has not ended yet is collected later). Does
/// nothing once it has been collected.
void kill_child(Child& child);

/// A started program; it is ended and collected when its Child goes. Only
/// the implementation looks inside.
struct Child {
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& other) noexcept { take(other); }
  Child& operator=(Child&& other) noexcept {
    if (this != &other) {
      kill_child(*this);
      take(other);
    }
    return *this;
  }
  ~Child() { kill_child(*this); }

  /// Forgets a process that has been collected, closing nothing.
  void forget() {
    id = 0;
    handle = group = nullptr;
    event = -1;
  }

  long long id = 0;        // process id; 0 once collected
  void* handle = nullptr;  // process handle where the platform has one
  void* group = nullptr;   // job object where the platform has one
  int event = -1;          // POSIX: a descriptor readable once it has ended

 private:
  void take(Child& other) {
    id = other.id;
    handle = other.handle;
    group = other.group;
    event = other.event;
    other.forget();
  }
};

/// How a program ended: its exit code, or on POSIX the signal that ended it.
struct ProgramExit {
  int code = 0;
  int signal = 0;
};

enum class ChildState { RUNNING, EXITED };

/// Puts standard input and output in binary mode and makes termination
/// requests (and a closed client connection) observable instead of fatal.
void prepare_process();

/// True once the bridge has been asked to stop (SIGTERM, SIGINT, SIGHUP,
/// console close).
bool stop_requested();

/// The whole environment as name/value pairs.
std::map<std::string, std::string> environment();

/// The bridge's own path: the entry's argv[0], completed where needed.
std::string own_path(const char* argv0);

/// Creates a new, private folder inside `root` with a short name and no
/// blanks in its path. On POSIX it is locked while this process lives, so
/// that the next bridge removes it if this one is killed. False when it
/// cannot be made.
bool make_private_folder(const std::string& root, std::string& folder);

/// The folder for temporary files when no setting names one.
std::string default_temp_root();

/// Removes `folder` and everything inside it, following no links (and
/// releases its lock).
void remove_tree(const std::string& folder);

/// Starts `program` with the given command-line words (not counting the
/// program itself) in `directory`, standard input empty, standard output
/// and error written to a new file at `messages` (the bridge logs it line
/// by line when the run is over), no other descriptor of the bridge's;
/// where the platform can, it ends when the bridge ends. Where the
/// platform can, no file the program writes may grow past `max_file_size`
/// bytes. False when it cannot start.
bool start_child(const std::string& program,
                 const std::vector<std::string>& words,
                 const std::string& directory, const std::string& messages,
                 std::uint64_t max_file_size, Child& child);

/// Looks at the child without waiting; fills `exit` once it has ended and
/// collects it.
ChildState poll_child(Child& child, ProgramExit& exit);

/// The size of the file at `path`; 0 when it cannot be read.
std::uint64_t file_size(const std::string& path);

/// Writes all of `data` to standard output. False when the reader is gone.
bool write_stdout(const std::string& data);

/// True where a parent sees only the low eight bits of an exit code.
extern const bool EXIT_CODE_IS_BYTE;

/// The executable suffix of the platform ("" or ".exe").
extern const char EXECUTABLE_SUFFIX[];

/// The characters that separate path components, the preferred one first.
extern const char PATH_SEPARATORS[];

/// `path` made absolute, with no links and no "." or ".." components; ""
/// when it does not exist.
std::string canonical_path(const std::string& path);

/// True when `name` is an absolute path on this platform.
bool is_absolute(const std::string& name);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_OS_H
