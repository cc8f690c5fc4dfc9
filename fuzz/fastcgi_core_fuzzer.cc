// The FastCGI service's core driven by a sequence of events on two
// connections: whole requests, raw bytes, aborts, the web server taking
// bytes or not, writes failing, hang-ups, run events, the clock, the stop.
// Runs are scripted from the input. Input: one byte per event, then its
// operands.
//
// Checked after every event: no request is answered twice nor gets
// output after its answer; every STDOUT record is for a request the web
// server began; queues, connections, busy runs and temporary bytes stay
// within their bounds. At the end every run has been ended.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "tests/bridge/core_fakes.h"

namespace {

using bridge::Clock;

struct Peer {
  std::uint64_t serial = 0;
  bool open = false;
  std::string sent;  // every byte the web server sent on it
  void send(bridge::FastcgiCore& core, std::string_view bytes,
            Clock::time_point now) {
    sent.append(bytes.data(), bytes.size());
    core.received(serial, bytes, now);
  }
};

// BEGIN_REQUEST records in `bytes`, per request id, framed as the core
// frames them.
std::map<unsigned, int> begins(const std::string& bytes) {
  std::map<unsigned, int> count;
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 0; bytes.size() - i >= 8;) {
    if (at(i + 1) == bridge::fcgi::BEGIN_REQUEST)
      ++count[(at(i + 2) << 8) | at(i + 3)];
    i += 8 + ((at(i + 4) << 8) | at(i + 5)) + at(i + 6);
    if (i > bytes.size()) break;
  }
  return count;
}

std::uint8_t next(std::string_view& rest) {
  if (rest.empty()) return 0;
  std::uint8_t byte = static_cast<std::uint8_t>(rest[0]);
  rest.remove_prefix(1);
  return byte;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  bridge::Limits limits;
  limits.max_children = 2;
  limits.max_connections = 2;
  limits.max_requests = 3;
  limits.max_params = 200;
  limits.queue_high_water = 300;
  limits.queue_cap = 2000;
  limits.max_temp = 1000;
  limits.request_time_ms = 50;
  limits.grace_ms = 30;
  fakes::Maker maker;
  fakes::FakePort port;
  Clock::time_point now = Clock::time_point() + std::chrono::hours(1);
  {
    bridge::FastcgiCore core(limits, maker, port);
    Peer peers[2];
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
      const unsigned event = next(rest);
      Peer& peer = peers[event & 1];
      if (!peer.open && core.may_accept()) {
        peer.serial = core.connect();
        peer.open = true;
        peer.sent.clear();
      }
      fakes::Wire& wire = port.wires[peer.serial];
      unsigned id = 1 + next(rest) % 4;
      switch ((event >> 1) % 10) {
        case 0: {  // a whole request; its run's script from the input
          unsigned shape = next(rest);
          maker.shape = fakes::Script();
          for (unsigned i = 0; i < shape % 4; ++i)
            maker.shape.pieces.emplace_back(
                now + std::chrono::milliseconds(next(rest) % 64),
                std::string(next(rest) * 2, 'p'));
          maker.shape.ended = shape & 4;
          maker.shape.refuse_start = shape & 8;
          maker.shape.temp = (shape & 16) ? 600 : 0;
          if (shape & 32)
            maker.shape.deadline = now + std::chrono::milliseconds(20);
          std::string body(next(rest) % 8 * 50, 'b');
          if (peer.open)
            peer.send(core,
                      fakes::request(id, shape & 64 ? "missing" : "s", body,
                                     shape & 128),
                      now);
          break;
        }
        case 1: {  // raw bytes
          std::size_t n = next(rest);
          n = n < rest.size() ? n : rest.size();
          if (peer.open) peer.send(core, rest.substr(0, n), now);
          rest.remove_prefix(n);
          break;
        }
        case 2: {
          std::string abort;
          bridge::fcgi::append_stream(abort, bridge::fcgi::ABORT_REQUEST, id,
                                      "");
          if (peer.open) peer.send(core, abort, now);
          break;
        }
        case 3:
          wire.room = next(rest) * 8;
          core.writable(peer.serial, now);
          break;
        case 4: wire.failed = true; break;
        case 5: core.hung_up(peer.serial); break;
        case 6: core.run_event(next(rest), now); break;
        case 7:
          now += std::chrono::milliseconds(next(rest));
          core.tick(now);
          break;
        case 8: core.tick(std::max(now, core.wake_time())); break;
        case 9: core.stop(now); break;
      }
      for (Peer& each : peers) {
        const fakes::Wire& seen = port.wires[each.serial];
        if (each.open && seen.closed) each.open = false;
        std::map<unsigned, int> begun = begins(each.sent);
        for (const auto& answer : fakes::decode(seen.bytes)) {
          int asked = begun[answer.first];
          fuzz::check(answer.second.ends <= asked, "answered twice",
                      std::to_string(answer.first));
          fuzz::check(!answer.second.after_end || asked > 1,
                      "output after the answer", std::to_string(answer.first));
          fuzz::check(answer.second.out.empty() || asked > 0,
                      "output for a request not begun",
                      std::to_string(answer.first));
        }
        fuzz::check(core.queued(each.serial) <= limits.queue_cap,
                    "queue within its cap");
      }
      std::size_t busy = 0;
      for (const auto& script : maker.made)
        busy += script->alive && script->started && !script->ended;
      fuzz::check(busy <= limits.max_children, "children within the bound");
      fuzz::check(core.connections() <= limits.max_connections,
                  "connections within the bound");
      fuzz::check(core.temp_bytes() <= limits.max_temp,
                  "temporary bytes within the bound",
                  std::to_string(core.temp_bytes()));
    }
    core.stop(now);
    core.end_all();
  }
  for (const auto& script : maker.made)
    fuzz::check(!script->alive, "every run ended");
  return 0;
}
