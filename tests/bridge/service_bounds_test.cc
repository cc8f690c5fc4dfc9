// The FastCGI service's bounds where they are decided without I/O: the
// limits' settings, the params budget and request stamps of a connection,
// and a stream's time limit, pacing and read-ahead on a fake clock (the
// program has already ended, so only the clock moves the stream).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include <unistd.h>

#include "fastcgi.h"
#include "service_limits.h"
#include "stream.h"

namespace bridge {
namespace {

using namespace std::string_literals;
using std::chrono::milliseconds;

TEST(ServiceLimits, SetInRangeRefusedOutsideAndDescribed) {
  Limits limits;
  bool known = false;
  std::string problem;
  EXPECT_TRUE(set_limit("max-children", "3", limits, known, problem));
  EXPECT_EQ(limits.max_children, 3u);
  EXPECT_TRUE(set_limit("grace-ms", "0", limits, known, problem));
  EXPECT_EQ(limits.grace_ms, 0u);
  EXPECT_FALSE(set_limit("max-children", "0", limits, known, problem));
  EXPECT_TRUE(known);
  EXPECT_EQ(problem, "--max-children must be a number from 1 to 100000");
  for (const char* bad : {"", "-1", "1e3", " 5", "99999999999999999999"})
    EXPECT_FALSE(set_limit("read-ahead", bad, limits, known, problem)) << bad;
  EXPECT_EQ(limits.read_ahead, Limits().read_ahead);
  EXPECT_FALSE(set_limit("fastcgi", "1", limits, known, problem));
  EXPECT_FALSE(known);
  std::vector<std::string> help = limit_help();
  ASSERT_EQ(help.size(), 12u);
  EXPECT_EQ(help[0].compare(0, 19, "--max-children N   "), 0) << help[0];
  EXPECT_NE(help[0].find("(default 64)"), std::string::npos);
}

std::string begin(unsigned id) {
  std::string out;
  fcgi::append_stream(out, fcgi::BEGIN_REQUEST, id, "\0\1\1\0\0\0\0\0"s);
  return out;
}

std::string params_record(unsigned id, std::size_t size) {
  std::string pair, out;
  fcgi::append_pair(pair, "X", std::string(size, 'x'));
  fcgi::append_stream(out, fcgi::PARAMS, id, pair);
  return out;
}

struct Quiet : fcgi::Listener {
  int requests = 0;
  void on_request(unsigned, fcgi::Params) override { ++requests; }
  void on_stdin(unsigned, std::string_view) override {}
  void on_abort(unsigned) override {}
};

bool feed(fcgi::Connection& connection, const std::string& bytes,
          fcgi::Listener& listener) {
  return connection.feed(bytes.data(), bytes.size(), listener);
}

// The budget is shared by connections and given back by every way a request
// ends: finished, a protocol error, the connection's end.
TEST(ParamsBudget, SharedOverloadsAndIsGivenBack) {
  fcgi::Connection::Limits::Budget budget;
  budget.max = 10000;
  fcgi::Connection::Limits limits;
  limits.budget = &budget;
  Quiet listener;
  auto first = std::make_unique<fcgi::Connection>(limits);
  fcgi::Connection second(limits);
  EXPECT_TRUE(feed(*first, begin(1) + params_record(1, 6000), listener));
  EXPECT_EQ(budget.used, 6006u);
  EXPECT_TRUE(feed(second, begin(1) + params_record(1, 6000), listener));
  std::string overloaded;
  fcgi::append_end_request(overloaded, 1, 0, fcgi::OVERLOADED);
  EXPECT_EQ(second.replies(), overloaded);
  EXPECT_EQ(budget.used, 6006u);
  // The refused id is free again; a small request fits.
  EXPECT_TRUE(feed(second, begin(1) + params_record(1, 100), listener));
  EXPECT_EQ(budget.used, 6109u);
  second.finished(1);
  EXPECT_EQ(budget.used, 6006u);
  EXPECT_TRUE(feed(second, begin(2) + params_record(2, 100), listener));
  EXPECT_FALSE(feed(second, "\x07garbage", listener));
  EXPECT_EQ(budget.used, 6006u);
  first.reset();
  EXPECT_EQ(budget.used, 0u);
}

TEST(ParamsBudget, IncompleteRequestsKeepTheirStamp) {
  fcgi::Connection connection;
  Quiet listener;
  EXPECT_EQ(connection.oldest_incomplete(), UINT64_MAX);
  connection.set_now(100);
  std::string end_params;
  fcgi::append_stream(end_params, fcgi::PARAMS, 1, "");
  EXPECT_TRUE(feed(connection, begin(1), listener));
  connection.set_now(200);
  EXPECT_TRUE(feed(connection, begin(2) + end_params, listener));
  EXPECT_EQ(connection.oldest_incomplete(), 100u);  // 1 waits for its body
  std::string end_stdin;
  fcgi::append_stream(end_stdin, fcgi::STDIN, 1, "");
  EXPECT_TRUE(feed(connection, end_stdin, listener));
  EXPECT_EQ(connection.oldest_incomplete(), 200u);
  connection.finished(2);
  EXPECT_EQ(connection.oldest_incomplete(), UINT64_MAX);
}

// An output file as a paced program leaves it: a push header, then parts.
class EndedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bridge-stream-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = pattern;
    settings_.frame_interval_ms = 100;
    settings_.timeout_ms = 1000;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void write(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::unique_ptr<Stream> stream() {
    return std::make_unique<Stream>(Child(), path_, settings_, false, start_);
  }
  static std::string parts(int count, std::size_t size) {
    std::string text =
        "Content-type: multipart/x-mixed-replace;boundary=B\n\n--B\n";
    for (int i = 0; i < count; ++i)
      text += "Content-type: image/gif\n\n" + std::string(size, 'a' + i) +
              "\n--B\n";
    return text;
  }
  std::string path_;
  Settings settings_;
  Clock::time_point start_ = Clock::time_point() + std::chrono::hours(1);
};

TEST_F(EndedRun, PartsArePacedAndTheTimeLimitEndsTheStream) {
  write(parts(20, 10));
  auto run = stream();
  std::string piece;
  int sent = 0;
  for (Clock::time_point now = start_;; now += milliseconds(100)) {
    run->update(now);
    while (run->take(now, piece)) ++sent;
    if (run->finished()) break;
    // Never a wake-up already due: the caller would spin on it.
    EXPECT_GT(run->wake_time(), now);
    EXPECT_LE(run->wake_time(), now + milliseconds(100));
  }
  EXPECT_TRUE(run->report().timed_out);
  EXPECT_TRUE(run->report().failed_after_output());
  EXPECT_EQ(sent, 10);  // the header with a part, then one each 100 ms
  EXPECT_EQ(run->wake_time(), Clock::time_point::max());
  EXPECT_EQ(run->deadline(), Clock::time_point::max());
}

TEST_F(EndedRun, ALowerLifeLimitWinsAndARunThatEndsInTimeIsComplete) {
  write(parts(3, 10));
  auto run = stream();
  run->limit_life(start_ + milliseconds(150));
  run->limit_life(start_ + milliseconds(5000));          // never raised
  EXPECT_EQ(run->deadline(), Clock::time_point::max());  // nothing sent yet
  std::string piece;
  run->update(start_);
  EXPECT_TRUE(run->take(start_, piece));
  EXPECT_EQ(run->deadline(), start_ + milliseconds(150));
  run->update(start_ + milliseconds(150));
  EXPECT_TRUE(run->finished());
  EXPECT_TRUE(run->report().timed_out);

  auto whole = stream();
  std::string all;
  for (Clock::time_point now = start_; !whole->finished();
       now += milliseconds(100)) {
    whole->update(now);
    while (whole->take(now, piece)) all += piece;
  }
  EXPECT_FALSE(whole->report().timed_out);
  EXPECT_FALSE(whole->report().failed_after_output());
  const std::string header =
      "Content-type: multipart/x-mixed-replace;boundary=B\n\n";
  EXPECT_EQ(all, "Content-type: multipart/x-mixed-replace;boundary=B\r\n\r\n" +
                     parts(3, 10).substr(header.size()));
}

TEST_F(EndedRun, ReadAheadBoundsWhatIsHeldAndKeepsTheBytes) {
  const std::string body(300000, 'z');
  write("Content-type: text/plain\n\n" + body);
  settings_.frame_interval_ms = 0;
  auto run = stream();
  run->set_read_ahead(4096);
  std::string piece, all;
  run->update(start_);
  while (run->take(start_, piece)) {
    EXPECT_LE(piece.size(), 4096u + 64 * 1024) << all.size();
    all += piece;
  }
  EXPECT_TRUE(run->finished());
  EXPECT_EQ(all, "Content-type: text/plain\r\n\r\n" + body);
}

TEST(StreamWithoutOutput, AnUnopenedFileEndsTheRunAtOnce) {
  Settings settings;
  Stream run(Child(), nullptr, "/nonexistent", settings, false, Clock::now());
  EXPECT_TRUE(run.finished());
  EXPECT_TRUE(run.report().unreadable);
  EXPECT_FALSE(run.report().produced);
  EXPECT_EQ(run.wake_time(), Clock::time_point::max());
}

}  // namespace
}  // namespace bridge
