#include "settings.h"

#include <algorithm>

namespace bridge {
namespace {

constexpr std::uint64_t MAX_TIMEOUT_SECONDS = 86400;
constexpr std::uint64_t MAX_INTERVAL_MS = 60000;
constexpr std::uint64_t MAX_BODY_LIMIT = std::uint64_t(1) << 40;

bool read_number(const Environment& env, const char* name, std::uint64_t limit,
                 std::uint64_t& value, std::string& problem) {
  std::string text = env_value(env, name);
  if (text.empty()) return true;  // keep the default
  if (parse_decimal(text, limit, value)) return true;
  problem = std::string(name) + " must be a number from 0 to " +
            std::to_string(limit);
  return false;
}

}  // namespace

bool parse_decimal(const std::string& text, std::uint64_t limit,
                   std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (result > limit) return false;
  value = result;
  return true;
}

bool read_settings(const Environment& env, Settings& settings,
                   std::string& problem) {
  settings.program = env_value(env, "WINCGI_PROGRAM");
  settings.temp_root = env_value(env, "WINCGI_TEMP");
  std::uint64_t timeout_s =
      static_cast<std::uint64_t>(settings.timeout_ms) / 1000;
  std::uint64_t interval =
      static_cast<std::uint64_t>(settings.frame_interval_ms);
  if (!read_number(env, "WINCGI_TIMEOUT", MAX_TIMEOUT_SECONDS, timeout_s,
                   problem) ||
      !read_number(env, "WINCGI_FRAME_INTERVAL", MAX_INTERVAL_MS, interval,
                   problem) ||
      !read_number(env, "WINCGI_MAX_BODY", MAX_BODY_LIMIT, settings.max_body,
                   problem) ||
      !read_number(env, "WINCGI_MAX_OUTPUT", MAX_BODY_LIMIT,
                   settings.max_output, problem)) {
    return false;
  }
  if (timeout_s == 0) {
    problem = "WINCGI_TIMEOUT must be at least 1";
    return false;
  }
  settings.timeout_ms = static_cast<long>(timeout_s * 1000);
  settings.frame_interval_ms = static_cast<long>(interval);
  return true;
}

bool lower_settings(const Environment& params, const Settings& service,
                    Settings& result, std::string& problem) {
  Settings asked = service;
  if (!read_settings(params, asked, problem)) return false;
  result = service;
  result.timeout_ms = std::min(asked.timeout_ms, service.timeout_ms);
  result.max_body = std::min(asked.max_body, service.max_body);
  result.max_output = std::min(asked.max_output, service.max_output);
  result.frame_interval_ms = asked.frame_interval_ms;
  return true;
}

}  // namespace bridge
