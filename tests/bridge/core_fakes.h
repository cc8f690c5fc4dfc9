// core_fakes.h: a scripted Run, the maker that hands them out and a Port
// that records what FastcgiCore does, to drive the core on a fake clock
// (the unit tests and the events fuzz target).
#ifndef WHIRLO_TESTS_BRIDGE_CORE_FAKES_H
#define WHIRLO_TESTS_BRIDGE_CORE_FAKES_H

#include <climits>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bridge/fastcgi.h"
#include "bridge/fastcgi_core.h"

namespace fakes {

using bridge::Clock;
using bridge::Run;

// What one run will do, and what was done to it. It outlives the run.
struct Script {
  std::deque<std::pair<Clock::time_point, std::string>> pieces;
  bool ended = false;  // the work is over once the pieces are out
  Run::End outcome = Run::End::COMPLETE;
  bool refuse_start = false;
  Clock::time_point deadline = Clock::time_point::max();
  std::uint64_t temp = 0;
  // Seen.
  std::string body;
  bool body_ended = false, started = false, stopped = false, cut = false,
       produced = false, alive = false, ended_by_core = false;
};

class FakeRun : public Run {
 public:
  explicit FakeRun(Script& script) : s_(script) { s_.alive = true; }
  ~FakeRun() override { s_.alive = false; }
  bool body(std::string_view data, bridge::Refusal&) override {
    if (data.empty()) s_.body_ended = true;
    s_.body.append(data.data(), data.size());
    return true;
  }
  bool start(Clock::time_point, bridge::Refusal& refusal) override {
    if (s_.refuse_start) refusal = {"502 Bad Gateway", "cannot start"};
    s_.started = !s_.refuse_start;
    return s_.started;
  }
  void update(Clock::time_point now) override {
    if (now >= s_.deadline && !s_.ended) halt(true);
  }
  bool take(Clock::time_point now, std::string& piece) override {
    if (s_.pieces.empty() || s_.pieces.front().first > now) return false;
    piece = s_.pieces.front().second;
    s_.pieces.pop_front();
    s_.produced = true;
    return true;
  }
  Clock::time_point wake_time() const override {
    Clock::time_point next =
        s_.pieces.empty() ? Clock::time_point::max() : s_.pieces.front().first;
    return std::min(next, deadline());
  }
  Clock::time_point deadline() const override {
    return s_.ended ? Clock::time_point::max() : s_.deadline;
  }
  bool finished() const override { return s_.ended && s_.pieces.empty(); }
  bool busy() const override { return s_.started && !s_.ended; }
  bool wants_output() const override { return busy() && s_.pieces.empty(); }
  std::uint64_t temp_bytes() const override { return s_.temp; }
  bool produced() const override { return s_.produced; }
  void cut() override { halt(true); }
  void stop() override {
    s_.stopped = true;
    halt(false);
  }
  End end(bridge::Refusal& refusal) override {
    s_.ended_by_core = true;
    if (s_.outcome == End::REFUSED) refusal = {"502 Bad Gateway", "it failed"};
    return s_.outcome;
  }
  bool nph() const override { return false; }
  std::string name() const override { return "fake"; }

 private:
  void halt(bool cut) {
    s_.cut = s_.cut || cut;
    s_.ended = true;
    s_.pieces.clear();
    if (cut) s_.outcome = s_.produced ? End::CUT_SHORT : End::REFUSED;
  }
  Script& s_;
};

// SCRIPT_FILENAME "missing" is refused; any other gets a copy of `shape`.
struct Maker : bridge::RunMaker {
  Script shape;
  std::vector<std::unique_ptr<Script>> made;
  std::unique_ptr<Run> open(const bridge::fcgi::Params& params, bool& nph,
                            bridge::Refusal& refusal) override {
    nph = false;
    for (const auto& pair : params) {
      if (pair.first == "SCRIPT_FILENAME" && pair.second == "missing") {
        refusal = {"404 Not Found", "no such program"};
        return nullptr;
      }
    }
    made.push_back(std::make_unique<Script>(shape));
    return std::make_unique<FakeRun>(*made.back());
  }
};

struct Wire {
  std::string bytes;           // what the web server got
  long long room = LLONG_MAX;  // bytes it takes before blocking
  bool failed = false;         // writes fail
  bool closed = false;
  bool read = true, write = false;  // what the core waits for
  int writes = 0;                   // calls that wrote something
};

struct FakePort : bridge::Port {
  std::map<std::uint64_t, Wire> wires;
  bool accepting = true;
  bool report_ends = true;
  std::set<std::uint64_t> watched;
  long long write(std::uint64_t connection, std::string_view bytes) override {
    Wire& wire = wires[connection];
    if (wire.failed) return -1;
    long long n = std::min<long long>(wire.room, bytes.size());
    wire.room -= n;
    if (n > 0) ++wire.writes;
    wire.bytes.append(bytes.data(), static_cast<std::size_t>(n));
    return n;
  }
  void close(std::uint64_t connection) override {
    wires[connection].closed = true;
  }
  void arm(std::uint64_t connection, bool read, bool write) override {
    wires[connection].read = read;
    wires[connection].write = write;
  }
  void accept(bool on) override { accepting = on; }
  bool started(std::uint64_t, Run&) override { return report_ends; }
  bool watch_output(std::uint64_t request, Run&) override {
    watched.insert(request);
    return true;
  }
  void unwatch_output(std::uint64_t request) override {
    watched.erase(request);
  }
};

// One request id's records as the web server read them.
struct Answer {
  std::string out;  // STDOUT content
  int ends = 0;     // END_REQUEST records
  std::uint32_t app_status = 0;
  bool after_end = false;  // STDOUT came after an END_REQUEST
};

// Decodes whole records of `wire`; a partial record at the end is left.
inline std::map<unsigned, Answer> decode(const std::string& wire) {
  std::map<unsigned, Answer> answers;
  std::size_t at = 0;
  auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(wire[at + i]);
  };
  while (wire.size() - at >= 8) {
    std::size_t length = (byte(4) << 8) | byte(5);
    std::size_t total = 8 + length + byte(6);
    if (wire.size() - at < total) break;
    unsigned id = (byte(2) << 8) | byte(3);
    Answer& answer = answers[id];
    if (byte(1) == bridge::fcgi::STDOUT) {
      if (answer.ends > 0 && length > 0) answer.after_end = true;
      answer.out.append(wire, at + 8, length);
    } else if (byte(1) == bridge::fcgi::END_REQUEST && length >= 4) {
      ++answer.ends;
      answer.app_status = (std::uint32_t(byte(8)) << 24) | (byte(9) << 16) |
                          (byte(10) << 8) | byte(11);
    }
    at += total;
  }
  return answers;
}

// The records of a whole responder request: begin, params, body.
inline std::string request(unsigned id, const std::string& script,
                           const std::string& body = "", bool keep = true) {
  using namespace bridge::fcgi;
  std::string out, pairs;
  std::string begin_body = {0, 1, static_cast<char>(keep ? 1 : 0), 0, 0, 0,
                            0, 0};
  append_stream(out, BEGIN_REQUEST, id, begin_body);
  append_pair(pairs, "SCRIPT_FILENAME", script);
  append_stream(out, PARAMS, id, pairs);
  append_stream(out, PARAMS, id, "");
  if (!body.empty()) append_stream(out, STDIN, id, body);
  append_stream(out, STDIN, id, "");
  return out;
}

}  // namespace fakes

#endif  // WHIRLO_TESTS_BRIDGE_CORE_FAKES_H
