// relay_win32.cc: the CGI mode's wait on Windows, with
// WaitForMultipleObjects on the process, a change notification on the
// output file's folder and the stop event.
#include "relay.h"

#include <windows.h>

#include <algorithm>

#include "os_win32.h"

namespace bridge {
namespace {

// Change notifications can be missed on some file systems, so a wait for
// output is cut short after this long.
constexpr DWORD OUTPUT_CHECK_MS = 100;

std::string folder_of_file(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

class FolderWatch {
 public:
  explicit FolderWatch(const std::string& file)
      : handle_(FindFirstChangeNotificationA(
            folder_of_file(file).c_str(), FALSE,
            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) {}
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch() {
    if (valid()) FindCloseChangeNotification(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_; }
  HANDLE handle() const { return handle_; }
  void rearm() {
    if (valid()) FindNextChangeNotification(handle_);
  }

 private:
  HANDLE handle_;
};

DWORD timeout_ms(Clock::time_point wake, Clock::time_point now) {
  if (wake == Clock::time_point::max()) return INFINITE;
  if (wake <= now) return 0;
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
  return static_cast<DWORD>(std::min<long long>(ms + 1, 0x7FFFFFFF));
}

void wait_for_events(Stream& stream, FolderWatch& watch) {
  HANDLE handles[3];
  DWORD count = 0;
  if (HANDLE stop = static_cast<HANDLE>(stop_event())) handles[count++] = stop;
  // Unpaced, the folder is watched too, for the output cap.
  bool watching = stream.program_running() && watch.valid();
  if (stream.program_running())
    handles[count++] = static_cast<HANDLE>(stream.child().handle);
  if (watching) handles[count++] = watch.handle();
  DWORD timeout = timeout_ms(stream.wake_time(), Clock::now());
  if (stream.program_running() && timeout > OUTPUT_CHECK_MS)
    timeout = OUTPUT_CHECK_MS;
  if (count == 0) {
    Sleep(timeout == INFINITE ? OUTPUT_CHECK_MS : timeout);
    return;
  }
  DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeout);
  if (watching && result == WAIT_OBJECT_0 + count - 1) watch.rearm();
}

}  // namespace

struct EventWait::State {
  explicit State(const std::string& file) : watch(file) {}
  FolderWatch watch;
};

EventWait::EventWait(const Stream& stream)
    : state_(new State(stream.output_path())) {}

EventWait::~EventWait() { delete state_; }

void EventWait::wait(Stream& stream) { wait_for_events(stream, state_->watch); }

}  // namespace bridge
