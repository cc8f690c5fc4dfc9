// The FastCGI connection on an arbitrary byte stream. Input: one byte that
// chooses the limits, one that seeds the slice sizes, then the stream.
//
// Checked, with a listener that plays a server ending each request when its
// body has ended or it was aborted: calls come only in the order a request
// allows (stdin after on_request and before its end, abort once, nothing
// for ids not started), none after feed returned false; the replies are
// whole, padded records of the types the connection may send, never for a
// request it handed on; and feeding the stream in slices gives the same
// calls, replies and result as feeding it at once.
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "bridge/fastcgi.h"
#include "fuzz_support.h"

namespace {

using bridge::fcgi::Connection;
using bridge::fcgi::Params;

enum class State { RUNNING, BODY_ENDED };

struct Checker : bridge::fcgi::Listener {
  Connection* connection = nullptr;
  std::map<unsigned, State> requests;
  std::string log;
  std::size_t seen = 0;  // reply bytes checked
  bool closed = false;

  void on_request(unsigned id, Params params) override {
    fuzz::check(!closed, "no call after a protocol error");
    drain();
    fuzz::check(id != 0 && requests.count(id) == 0, "a request starts once",
                std::to_string(id));
    std::string encoded;
    for (const auto& pair : params)
      bridge::fcgi::append_pair(encoded, pair.first, pair.second);
    Params again;
    fuzz::check(bridge::fcgi::parse_params(encoded, again) && again == params,
                "parameters survive encoding");
    requests[id] = State::RUNNING;
    log += "R" + std::to_string(id) + ":" + encoded + "\n";
  }

  void on_stdin(unsigned id, std::string_view data) override {
    fuzz::check(!closed, "no call after a protocol error");
    drain();
    auto it = requests.find(id);
    fuzz::check(it != requests.end() && it->second == State::RUNNING,
                "stdin only while the body runs", std::to_string(id));
    log += "S" + std::to_string(id) + ":" + std::string(data) + "\n";
    if (data.empty()) end(id);
  }

  void on_abort(unsigned id) override {
    fuzz::check(!closed, "no call after a protocol error");
    drain();
    fuzz::check(requests.count(id) == 1, "abort only for a started request",
                std::to_string(id));
    log += "A" + std::to_string(id) + "\n";
    end(id);
  }

  // Every reply since the last look is a whole record the connection may
  // send on its own; looked at before each call, so in order with them.
  void drain() {
    std::string_view rest =
        std::string_view(connection->replies()).substr(seen);
    while (!rest.empty()) {
      fuzz::check(rest.size() >= 8, "replies hold whole records",
                  fuzz::escaped(rest));
      auto at = [&](std::size_t i) {
        return static_cast<unsigned char>(rest[i]);
      };
      const std::size_t length = at(4) << 8 | at(5);
      const unsigned id = at(2) << 8 | at(3);
      fuzz::check(at(0) == 1 && at(6) == (8 - length % 8) % 8 && at(7) == 0,
                  "reply header", fuzz::escaped(rest.substr(0, 8)));
      fuzz::check(rest.size() >= 8 + length + at(6), "reply content is whole");
      std::string_view content = rest.substr(8, length);
      if (at(1) == bridge::fcgi::END_REQUEST) {
        fuzz::check(length == 8 && id != 0 && requests.count(id) == 0,
                    "the connection ends only requests it kept",
                    std::to_string(id));
      } else if (at(1) == bridge::fcgi::GET_VALUES_RESULT) {
        Params values;
        fuzz::check(id == 0 && bridge::fcgi::parse_params(content, values),
                    "values are a management record of pairs");
      } else {
        fuzz::check(
            at(1) == bridge::fcgi::UNKNOWN_TYPE && id == 0 && length == 8,
            "only END_REQUEST, GET_VALUES_RESULT and UNKNOWN_TYPE");
      }
      const std::size_t total = 8 + length + at(6);
      rest.remove_prefix(total);
      seen += total;
    }
  }

  // Odd ids end at once, even ones stay until the stream is over, so that
  // both stray records and ids in use get exercised.
  void end(unsigned id) {
    if (id % 2 == 0) {
      requests[id] = State::BODY_ENDED;
      return;
    }
    connection->keep_connection(id);
    connection->finished(id);
    requests.erase(id);
  }
};

struct Outcome {
  bool ok = true;
  std::string log, replies;
};

// Feeds `stream` in slices drawn from `seed`, or at once when `seed` is 0.
Outcome run(std::string_view stream, Connection::Limits limits, unsigned seed) {
  Connection connection(limits);
  Checker checker;
  checker.connection = &connection;
  std::minstd_rand random(seed);
  Outcome outcome;
  std::size_t at = 0;
  while (at < stream.size()) {
    const std::size_t n = seed == 0 ? stream.size() : random() % 24;
    const std::size_t take = n < stream.size() - at ? n : stream.size() - at;
    const bool ok = connection.feed(stream.data() + at, take, checker);
    at += take;
    checker.drain();
    if (!ok) {
      checker.closed = true;
      fuzz::check(
          !connection.feed(stream.data() + at, stream.size() - at, checker),
          "a failed connection stays failed");
      outcome.ok = false;
      break;
    }
  }
  outcome.log = checker.log;
  outcome.replies = connection.replies();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  Connection::Limits limits;
  limits.max_requests = 1 + data[0] % 4;
  limits.max_params_bytes = std::size_t{16} << (data[0] >> 4);
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2,
                                size - 2);
  const Outcome whole = run(stream, limits, 0);
  const Outcome sliced = run(stream, limits, 1 + data[1]);
  fuzz::check(whole.ok == sliced.ok && whole.log == sliced.log,
              "slices give the same calls",
              fuzz::escaped(whole.log) + "\n---\n" + fuzz::escaped(sliced.log));
  fuzz::check(whole.replies == sliced.replies, "slices give the same replies");
  return 0;
}
