// FastCGI connections sharing one params budget, driven by a sequence of
// events: records arriving on either connection, the server ending a
// request, the clock moving, a connection closing. Input: one byte for the
// budget, then events, each a byte (what, and for which connection) and,
// for records, a length byte and that many bytes.
//
// Checked: the budget is never passed and is exactly what the live
// requests hold, given back in full when a connection goes; a request's
// stamp is never later than the clock nor older than the first event.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string_view>

#include "bridge/fastcgi.h"
#include "fuzz_support.h"

namespace {

using bridge::fcgi::Connection;
using bridge::fcgi::Params;

struct Server : bridge::fcgi::Listener {
  std::set<unsigned> started;
  void on_request(unsigned id, Params) override { started.insert(id); }
  void on_stdin(unsigned, std::string_view) override {}
  void on_abort(unsigned) override {}
};

struct Peer {
  std::unique_ptr<Connection> connection;
  Server server;
  bool failed = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  Connection::Limits::Budget budget;
  budget.max = 64u << (data[0] % 8);
  Connection::Limits limits;
  limits.max_params_bytes = 256;
  limits.max_requests = 4;
  limits.budget = &budget;
  Peer peers[2];
  for (Peer& peer : peers)
    peer.connection = std::make_unique<Connection>(limits);
  std::uint64_t now = 1000;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  while (!rest.empty()) {
    const unsigned event = static_cast<unsigned char>(rest[0]);
    rest.remove_prefix(1);
    Peer& peer = peers[event & 1];
    switch ((event >> 1) % 4) {
      case 0: {  // bytes from the web server
        if (rest.empty()) break;
        std::size_t n = static_cast<unsigned char>(rest[0]);
        rest.remove_prefix(1);
        n = n < rest.size() ? n : rest.size();
        peer.connection->set_now(now);
        if (!peer.failed)
          peer.failed = !peer.connection->feed(rest.data(), n, peer.server);
        rest.remove_prefix(n);
        break;
      }
      case 1:  // the server ends one request it was handed
        if (!peer.server.started.empty()) {
          unsigned id = *peer.server.started.begin();
          peer.server.started.erase(peer.server.started.begin());
          peer.connection->finished(id);
        }
        break;
      case 2: now += event >> 3; break;
      case 3:  // the connection closes; a new one takes its place
        peer.connection = std::make_unique<Connection>(limits);
        peer.server.started.clear();
        peer.failed = false;
        break;
    }
    fuzz::check(budget.used <= budget.max, "the budget holds",
                std::to_string(budget.used));
    for (const Peer& each : peers) {
      std::uint64_t oldest = each.connection->oldest_incomplete();
      fuzz::check(oldest == UINT64_MAX || (oldest >= 1000 && oldest <= now),
                  "stamps come from the clock", std::to_string(oldest));
      if (each.failed)
        fuzz::check(oldest == UINT64_MAX, "a failed connection holds nothing");
    }
  }
  for (Peer& peer : peers) peer.connection.reset();
  fuzz::check(budget.used == 0, "the budget is given back",
              std::to_string(budget.used));
  return 0;
}
