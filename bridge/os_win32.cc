// os_win32.cc: the bridge's operating-system layer for Windows.
#include "os.h"
#include "os_win32.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

namespace bridge {
namespace {

volatile LONG g_stop = 0;
HANDLE g_stop_event = nullptr;

BOOL WINAPI on_console_event(DWORD) {
  InterlockedExchange(&g_stop, 1);
  if (g_stop_event) SetEvent(g_stop_event);
  return TRUE;
}

// Windows CGI programs split their command line at blanks, so paths are
// passed in their short (8.3) form.
std::string short_path(const std::string& path) {
  DWORD size = GetShortPathNameA(path.c_str(), nullptr, 0);
  if (size == 0) return path;
  std::string result(size, '\0');
  DWORD written = GetShortPathNameA(path.c_str(), &result[0], size);
  if (written == 0 || written >= size) return path;
  result.resize(written);
  return result;
}

std::string command_line(const std::string& program,
                         const std::vector<std::string>& words) {
  std::string line = short_path(program);
  for (const std::string& word : words) line += " " + word;
  return line;
}

}  // namespace

const bool EXIT_CODE_IS_BYTE = false;
const char EXECUTABLE_SUFFIX[] = ".exe";
const char PATH_SEPARATORS[] = "\\/";

void prepare_process() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  if (!g_stop_event) g_stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void* stop_event() { return g_stop_event; }

bool stop_requested() { return InterlockedCompareExchange(&g_stop, 0, 0) != 0; }

std::map<std::string, std::string> environment() {
  std::map<std::string, std::string> result;
  char* block = GetEnvironmentStringsA();
  if (!block) return result;
  for (const char* entry = block; *entry; entry += std::strlen(entry) + 1) {
    std::string text = entry;
    std::size_t equals = text.find('=', 1);  // "=C:=C:\..." entries
    if (equals == std::string::npos || text[0] == '=') continue;
    result.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  FreeEnvironmentStringsA(block);
  return result;
}

std::string own_path(const char*) {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, &buffer[0],
                                      static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool make_private_folder(const std::string& root, std::string& folder) {
  std::string base = root;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  DWORD seed = GetCurrentProcessId() * 7919u + GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[16];
    std::snprintf(
        name, sizeof name, "wc%06lx",
        static_cast<unsigned long>((seed + attempt * 104729u) & 0xFFFFFF));
    std::string candidate = base + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      folder = short_path(candidate);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

std::string default_temp_root() {
  char buffer[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) return "C:\\";
  return short_path(std::string(buffer, length));
}

void remove_tree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        remove_tree(path);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(path.c_str());
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// The child runs in a job object, so that ending it ends what it started.
// The output cap is enforced by the relay, which watches the file's size.
bool start_child(const std::string& program,
                 const std::vector<std::string>& words,
                 const std::string& directory, const std::string& messages,
                 std::uint64_t, Child& child) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE null_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE output =
      CreateFileA(messages.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
    return false;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = null_input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::string line = command_line(program, words);
  PROCESS_INFORMATION info = {};
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr,
                                TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                nullptr, directory.c_str(), &startup, &info);
  if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
  CloseHandle(output);
  if (!started) {
    if (job) CloseHandle(job);
    return false;
  }
  if (job) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  child.id = info.dwProcessId;
  child.handle = info.hProcess;
  child.group = job;
  return true;
}

ChildState poll_child(Child& child, ProgramExit& exit) {
  HANDLE process = static_cast<HANDLE>(child.handle);
  if (!process) return ChildState::EXITED;
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
    return ChildState::RUNNING;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  exit = ProgramExit();
  exit.code = static_cast<int>(code);
  CloseHandle(process);
  if (child.group) CloseHandle(static_cast<HANDLE>(child.group));
  child.forget();
  return ChildState::EXITED;
}

void kill_child(Child& child) {
  HANDLE process = static_cast<HANDLE>(child.handle);
  if (!process) return;
  HANDLE job = static_cast<HANDLE>(child.group);
  if (job) TerminateJobObject(job, 1);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  if (job) CloseHandle(job);
  child.forget();
}

bool write_stdout(const std::string& data) {
  std::size_t done = std::fwrite(data.data(), 1, data.size(), stdout);
  return std::fflush(stdout) == 0 && done == data.size();
}

std::uint64_t file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
         data.nFileSizeLow;
}

bool is_absolute(const std::string& name) {
  return (name.size() >= 2 && name[1] == ':') ||
         (!name.empty() && (name[0] == '\\' || name[0] == '/'));
}

std::string canonical_path(const std::string& path) {
  DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::string();
  std::string result(size, '\0');
  size = GetFullPathNameA(path.c_str(), size, &result[0], nullptr);
  result.resize(size);
  if (GetFileAttributesA(result.c_str()) == INVALID_FILE_ATTRIBUTES)
    return std::string();
  return result;
}

}  // namespace bridge
