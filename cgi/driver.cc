#include "driver.h"

#include "animation_setup.h"
#include "cgi_request.h"
#include "command_tail.h"
#include "config/config_file.h"
#include "messages.h"
#include "platform/platform.h"
#include "player.h"
#include "text/product.h"

namespace cgi {
namespace {

constexpr char RUN_BOX_TEXT[] =
    WHIRLO_PRODUCT " error WHL1001 (cannot be executed from RUN box).";
constexpr char RUN_BOX_TITLE[] = WHIRLO_PRODUCT " for Windows CGI 1.3 servers";

bool open_output(CgiProcess& process, const std::string& path) {
  if (path.empty()) return false;
  process.output_stream.open(
      platform::writable_file_path(path),
      std::ios::out | std::ios::binary | std::ios::trunc);
  return process.output_stream.is_open();
}

}  // namespace

int run_request(const std::string& tail, CgiProcess& process) {
  process.output_stream.rdbuf()->pubsetbuf(process.output_buffer.data(),
                                           process.output_buffer.size());
  process.config_path = config::locate_config_path();
  if (tail.empty()) {
    platform::message_box(RUN_BOX_TEXT, RUN_BOX_TITLE);
    write_error(process.errors, NO_COMMAND_LINE);
    return NO_COMMAND_LINE;
  }
  CgiRequest cgi = read_cgi_request(data_file_path(tail), process.files);
  if (cgi.error_code != 0) {
    write_error(process.errors, cgi.error_code);
    return cgi.error_code;
  }
  AnimationRequest request;
  if (int result = set_up_animation(cgi, process.config_path, process.files,
                                    process.errors, request)) {
    return result;
  }
  if (!open_output(process, cgi.output_file)) {
    write_error(process.errors, NO_OUTPUT_FILE);
    return NO_OUTPUT_FILE;
  }
  // After 1005 the stream stays open; its buffer is written out when the
  // process ends.
  if (int result = play_request(process.files, request, process.output_stream,
                                process.errors)) {
    return result;
  }
  // A write that failed (a full disk) leaves the stream failed; so does a
  // close whose last bytes could not be written.
  process.output_stream.close();
  if (process.output_stream.fail()) {
    write_error(process.errors, NO_OUTPUT_FILE, OUTPUT_NOT_WRITTEN);
    return NO_OUTPUT_FILE;
  }
  return 0;
}

}  // namespace cgi
