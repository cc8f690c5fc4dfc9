// The FastCGI service's core on a fake clock with scripted runs and a port
// that records: how requests share a connection, back-pressure, the ways a
// request ends early, the bounds and the stop.
#include <gtest/gtest.h>

#include "core_fakes.h"
#include "fastcgi_core.h"

namespace bridge {
namespace {

using fakes::decode;
using fakes::request;
using std::chrono::milliseconds;

const Clock::time_point T0 = Clock::time_point() + std::chrono::hours(1);

class Core : public ::testing::Test {
 protected:
  void SetUp() override { limits.grace_ms = 500; }
  FastcgiCore& core() {
    if (!core_) core_ = std::make_unique<FastcgiCore>(limits, maker, port);
    return *core_;
  }
  std::uint64_t connect() { return core().connect(); }
  void feed(std::uint64_t connection, const std::string& bytes,
            Clock::time_point now = T0) {
    core().received(connection, bytes, now);
  }
  fakes::Wire& wire(std::uint64_t connection) { return port.wires[connection]; }
  std::map<unsigned, fakes::Answer> answers(std::uint64_t connection) {
    return decode(wire(connection).bytes);
  }
  // The shape of the next runs: pieces at these offsets from T0.
  void pieces(std::initializer_list<std::pair<int, const char*>> list,
              bool ended = true) {
    maker.shape.pieces.clear();
    for (const auto& piece : list)
      maker.shape.pieces.emplace_back(T0 + milliseconds(piece.first),
                                      piece.second);
    maker.shape.ended = ended;
  }

  Limits limits;
  fakes::Maker maker;
  fakes::FakePort port;
  std::unique_ptr<FastcgiCore> core_;
};

TEST_F(Core, RequestsShareAConnectionEachPacedOnItsOwn) {
  pieces({{0, "a1"}, {100, "a2"}, {300, "a3"}});
  std::uint64_t c = connect();
  feed(c, request(1, "anim", "body-one"));
  pieces({{50, "b1"}, {150, "b2"}});
  feed(c, request(2, "anim"));
  EXPECT_EQ(maker.made[0]->body, "body-one");
  EXPECT_TRUE(maker.made[0]->body_ended);
  EXPECT_EQ(answers(c)[1].out, "a1");
  EXPECT_EQ(core().wake_time(), T0 + milliseconds(50));
  for (int ms = 50; ms <= 300; ms += 50) core().tick(T0 + milliseconds(ms));
  auto got = answers(c);
  EXPECT_EQ(got[1].out, "a1a2a3");
  EXPECT_EQ(got[2].out, "b1b2");
  EXPECT_EQ(got[1].ends, 1);
  EXPECT_EQ(got[2].ends, 1);
  EXPECT_FALSE(got[1].after_end);
  EXPECT_FALSE(wire(c).closed);  // both asked to keep the connection
  EXPECT_EQ(core().requests(), 0u);
  EXPECT_EQ(core().wake_time(), Clock::time_point::max());

  // One that does not keep it: closed once its answer has gone.
  pieces({{0, "c"}});
  feed(c, request(3, "anim", "", false));
  EXPECT_EQ(answers(c)[3].ends, 1);
  EXPECT_TRUE(wire(c).closed);
  EXPECT_EQ(core().connections(), 0u);
}

TEST_F(Core, ARunHeldBackByItsConnectionGetsNoTimerThatIsDue) {
  limits.queue_high_water = 1000;
  std::string big(600, 'x');
  pieces({{0, big.c_str()}, {0, big.c_str()}, {0, big.c_str()}}, false);
  std::uint64_t c = connect();
  wire(c).room = 0;  // the web server takes nothing for now
  feed(c, request(1, "anim"));
  EXPECT_GE(core().queued(c), 1000u);
  EXPECT_EQ(maker.made[0]->pieces.size(), 1u);  // the third waits
  EXPECT_TRUE(wire(c).write);
  EXPECT_FALSE(wire(c).read);  // nor are more records read
  EXPECT_FALSE(core().reading(c));
  // The old fault: a timer at the part's due time, firing at once forever.
  EXPECT_GT(core().wake_time(), T0 + std::chrono::hours(1));

  wire(c).room = LLONG_MAX;
  core().writable(c, T0 + milliseconds(1));
  EXPECT_EQ(core().queued(c), 0u);
  EXPECT_TRUE(maker.made[0]->pieces.empty());
  EXPECT_EQ(answers(c)[1].out.size(), 1800u);
  EXPECT_TRUE(wire(c).read);
  EXPECT_FALSE(wire(c).write);
}

TEST_F(Core, PiecesReadyTogetherGoInOneWriteAndKeepFlowingPastTheMark) {
  limits.queue_high_water = 1000;
  pieces({{0, "head "}, {0, "part1 "}, {0, "part2 "}, {0, "part3"}});
  std::uint64_t c = connect();
  feed(c, request(1, "anim"));
  EXPECT_EQ(answers(c)[1].out, "head part1 part2 part3");
  EXPECT_EQ(answers(c)[1].ends, 1);
  EXPECT_EQ(wire(c).writes, 1);  // the records and END_REQUEST together

  // More than the high-water mark at once, all taken by the connection:
  // written as it gathers, so the run is never left waiting for nothing.
  std::string big(600, 'z');
  pieces({{0, big.c_str()},
          {0, big.c_str()},
          {0, big.c_str()},
          {0, big.c_str()},
          {0, big.c_str()}},
         false);
  std::uint64_t d = connect();
  feed(d, request(1, "anim"));
  EXPECT_TRUE(maker.made[1]->pieces.empty());
  EXPECT_EQ(answers(d)[1].out.size(), 3000u);
  EXPECT_EQ(core().queued(d), 0u);
  EXPECT_FALSE(wire(d).write);
}

TEST_F(Core, AQueuePastItsCapClosesTheConnection) {
  limits.queue_high_water = 100;
  limits.queue_cap = 500;
  std::string big(800, 'y');
  pieces({{0, big.c_str()}}, false);
  std::uint64_t c = connect();
  wire(c).room = 0;
  feed(c, request(1, "anim"));
  EXPECT_TRUE(wire(c).closed);
  EXPECT_FALSE(maker.made[0]->alive);
  EXPECT_EQ(core().requests(), 0u);
}

TEST_F(Core, AbortHangUpAndFailedWritesEndTheRunAndGiveBackItsBytes) {
  pieces({{0, "head"}, {1000, "late"}}, false);
  maker.shape.temp = 700;
  std::uint64_t c = connect();
  feed(c, request(1, "anim"));
  feed(c, request(2, "anim"));
  core().tick(T0 + milliseconds(10));  // the runs' files are counted
  EXPECT_EQ(core().temp_bytes(), 1400u);
  EXPECT_EQ(port.watched.size(), 0u);  // their next pieces are known

  std::string abort;
  fcgi::append_stream(abort, fcgi::ABORT_REQUEST, 1, "");
  feed(c, abort, T0 + milliseconds(20));
  EXPECT_FALSE(maker.made[0]->alive);
  EXPECT_EQ(answers(c)[1].ends, 1);
  EXPECT_EQ(core().temp_bytes(), 700u);
  EXPECT_TRUE(maker.made[1]->alive);

  core().hung_up(c);
  EXPECT_FALSE(maker.made[1]->alive);
  EXPECT_TRUE(wire(c).closed);
  EXPECT_EQ(core().temp_bytes(), 0u);
  EXPECT_EQ(answers(c)[2].ends, 0);
  core().tick(T0 + milliseconds(2000));  // nothing is left to fire

  std::uint64_t d = connect();
  wire(d).failed = true;
  feed(d, request(1, "anim"), T0 + milliseconds(3000));
  EXPECT_TRUE(wire(d).closed);
  EXPECT_FALSE(maker.made[2]->alive);
}

TEST_F(Core, ARunThatFailsAfterOutputClosesWithoutEndRequest) {
  pieces({{0, "part"}}, false);
  maker.shape.deadline = T0 + milliseconds(100);
  std::uint64_t c = connect();
  feed(c, request(1, "anim"));
  EXPECT_EQ(core().wake_time(), T0 + milliseconds(100));
  core().tick(T0 + milliseconds(100));
  EXPECT_TRUE(maker.made[0]->cut);
  EXPECT_EQ(answers(c)[1].out, "part");
  EXPECT_EQ(answers(c)[1].ends, 0);
  EXPECT_TRUE(wire(c).closed);

  // Without output, the bridge's own answer instead.
  pieces({}, false);
  maker.shape.deadline = T0 + milliseconds(100);
  std::uint64_t d = connect();
  feed(d, request(1, "anim"));
  core().tick(T0 + milliseconds(100));
  EXPECT_EQ(answers(d)[1].ends, 1);
  EXPECT_NE(answers(d)[1].out.find("Status: 502"), std::string::npos)
      << answers(d)[1].out;
}

TEST_F(Core, RefusedRequestsAndRunsThatCannotBeWoken) {
  std::uint64_t c = connect();
  feed(c, request(1, "missing"));
  EXPECT_NE(answers(c)[1].out.find("404 Not Found"), std::string::npos);
  EXPECT_EQ(answers(c)[1].ends, 1);
  maker.shape.refuse_start = true;
  feed(c, request(2, "anim"));
  EXPECT_NE(answers(c)[2].out.find("502"), std::string::npos);
  EXPECT_EQ(core().requests(), 0u);

  // A run whose end the port cannot report is looked at every few ms; one
  // whose output is watched waits for the event.
  maker.shape.refuse_start = false;
  pieces({}, false);
  port.report_ends = false;
  feed(c, request(3, "anim"));
  EXPECT_LE(core().wake_time(), T0 + milliseconds(10));
  EXPECT_EQ(port.watched.size(), 1u);
  port.report_ends = true;
  feed(c, request(4, "anim"));
  maker.made[1]->pieces.emplace_back(T0, "news");
  maker.made[1]->ended = true;
  core().run_event(9999, T0);  // a request that is not there
  EXPECT_EQ(answers(c)[3].out, "");
  for (std::uint64_t request : std::set<std::uint64_t>(port.watched))
    core().run_event(request, T0 + milliseconds(1));
  EXPECT_EQ(answers(c)[3].out, "news");
  EXPECT_EQ(answers(c)[3].ends, 1);
}

TEST_F(Core, BoundsOnChildrenConnectionsParamsTimeAndTemporaryBytes) {
  limits.max_children = 1;
  limits.max_connections = 2;
  limits.max_params = 100;
  limits.request_time_ms = 1000;
  limits.max_temp = 50;
  pieces({}, false);
  std::uint64_t c = connect();
  feed(c, request(1, "anim"));
  feed(c, request(2, "anim"));
  EXPECT_NE(answers(c)[2].out.find("--max-children"), std::string::npos);
  EXPECT_EQ(answers(c)[1].ends, 0);

  EXPECT_TRUE(core().may_accept());
  std::uint64_t d = connect();
  EXPECT_FALSE(core().may_accept());
  EXPECT_FALSE(port.accepting);
  // Params over the bound: a protocol error, the connection goes, a
  // connection may be accepted again.
  feed(d, request(1, std::string(200, 'p')));
  EXPECT_TRUE(wire(d).closed);
  EXPECT_TRUE(port.accepting);

  // A body over --max-temp is refused before it is spooled.
  std::uint64_t e = connect();
  feed(e, request(1, "anim", std::string(60, 'b')));
  EXPECT_NE(answers(e)[1].out.find("--max-temp"), std::string::npos);
  EXPECT_EQ(core().temp_bytes(), 0u);

  // A request whose params never end is closed after request_time_ms.
  std::string begun = request(2, "anim");
  begun.resize(16);  // BEGIN_REQUEST only
  feed(e, begun, T0 + milliseconds(100));
  core().tick(T0 + milliseconds(1099));
  EXPECT_FALSE(wire(e).closed);
  EXPECT_EQ(core().wake_time(), T0 + milliseconds(1100));
  core().tick(T0 + milliseconds(1100));
  EXPECT_TRUE(wire(e).closed);

  // Out of descriptors: paused for a while, then accepting again.
  core().accept_failed("Too many open files", T0 + milliseconds(2000));
  EXPECT_FALSE(port.accepting);
  core().tick(T0 + milliseconds(2100));
  EXPECT_FALSE(port.accepting);
  core().tick(core().wake_time());
  EXPECT_TRUE(port.accepting);

  // Output files past --max-temp: the run is cut.
  maker.made[0]->temp = 80;
  core().tick(T0 + milliseconds(3000));
  core().run_event(1, T0 + milliseconds(3000));  // not a request: ignored
  for (std::uint64_t request : std::set<std::uint64_t>(port.watched))
    core().run_event(request, T0 + milliseconds(3000));
  EXPECT_TRUE(maker.made[0]->cut);
  EXPECT_FALSE(maker.made[0]->alive);
  EXPECT_EQ(core().temp_bytes(), 0u);
}

TEST_F(Core, StopGivesTheGraceThenEndsWhatIsLeft) {
  pieces({{0, "p1"}, {200, "p2"}}, true);
  std::uint64_t c = connect();
  feed(c, request(1, "anim"));  // done within the grace
  pieces({{0, "q1"}}, false);
  feed(c, request(2, "anim"));  // produced, never ends
  pieces({}, false);
  feed(c, request(3, "anim"));  // nothing produced
  core().stop(T0 + milliseconds(100));
  feed(c, request(4, "anim"), T0 + milliseconds(100));
  EXPECT_NE(answers(c)[4].out.find("503"), std::string::npos);
  EXPECT_FALSE(core().done(T0 + milliseconds(100)));
  core().tick(T0 + milliseconds(200));
  EXPECT_EQ(answers(c)[1].out, "p1p2");
  EXPECT_FALSE(core().done(T0 + milliseconds(599)));
  EXPECT_TRUE(core().done(T0 + milliseconds(600)));
  core().end_all();
  auto got = answers(c);
  EXPECT_EQ(got[1].app_status, 0u);
  EXPECT_EQ(got[2].ends, 1);
  EXPECT_EQ(got[2].app_status, 1u);  // cut: not a complete response
  EXPECT_NE(got[3].out.find("the service is stopping"), std::string::npos);
  EXPECT_TRUE(maker.made[1]->stopped && maker.made[2]->stopped);
  for (const auto& script : maker.made) EXPECT_FALSE(script->alive);
  EXPECT_FALSE(core().flush_all());
}

}  // namespace
}  // namespace bridge
