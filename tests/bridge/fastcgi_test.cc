#include "fastcgi.h"

#include <gtest/gtest.h>

#include <random>

namespace bridge {
namespace fcgi {
namespace {

using namespace std::string_literals;

std::string record(unsigned char type, unsigned id,
                   const std::string& content) {
  std::string out;
  append_stream(out, type, id, content);
  return out;
}

std::string begin(unsigned id, unsigned role = 1, unsigned char flags = 0) {
  return record(BEGIN_REQUEST, id,
                "\0"s + char(role) + char(flags) + "\0\0\0\0\0"s);
}

// A whole PARAMS stream, cut into records of `step` content bytes.
std::string params(unsigned id, const Params& pairs, std::size_t step = 65535) {
  std::string encoded, out;
  for (const auto& pair : pairs) append_pair(encoded, pair.first, pair.second);
  for (std::size_t at = 0; at < encoded.size(); at += step)
    out += record(PARAMS, id, encoded.substr(at, step));
  return out + record(PARAMS, id, "");
}

struct Log : Listener {
  std::string calls;
  void on_request(unsigned id, Params p) override {
    calls += "request " + std::to_string(id);
    for (const auto& pair : p) calls += " " + pair.first + "=" + pair.second;
    calls += "\n";
  }
  void on_stdin(unsigned id, std::string_view data) override {
    calls += "stdin " + std::to_string(id) + " [" + std::string(data) + "]\n";
  }
  void on_abort(unsigned id) override {
    calls += "abort " + std::to_string(id) + "\n";
  }
};

// Feeds `bytes` in slices of `step` (0: random sizes); the calls and replies.
std::string run(const std::string& bytes, std::size_t step, bool ok = true,
                Connection::Limits limits = {}) {
  Connection connection(limits);
  Log log;
  std::mt19937 random(step);
  bool fed = true;
  for (std::size_t at = 0, n; at < bytes.size(); at += n) {
    n = std::min(bytes.size() - at, step ? step : random() % 40);
    fed = connection.feed(bytes.data() + at, n, log) && fed;
  }
  EXPECT_EQ(fed, ok);
  return log.calls + "replies " + connection.replies();
}

TEST(FastCgiEncoding, RecordsAreSplitPaddedAndByteExact) {
  EXPECT_EQ(record(STDOUT, 0x1234, "abc"),
            "\1\6\x12\x34\0\3\5\0abc\0\0\0\0\0"s);
  EXPECT_EQ(record(STDOUT, 1, ""), "\1\6\0\1\0\0\0\0"s);
  EXPECT_EQ(record(STDERR, 1, "12345678"),
            "\1\7\0\1\0\x08\0\0"
            "12345678"s);
  std::string big = record(STDOUT, 2, std::string(65536, 'x'));
  ASSERT_EQ(big.size(), 8 + 65535 + 1 + 8 + 1 + 7u);
  EXPECT_EQ(big.substr(0, 8), "\1\6\0\2\xff\xff\1\0"s);
  EXPECT_EQ(big.substr(65544, 9), "\1\6\0\2\0\1\7\0x"s);
  std::string end;
  append_end_request(end, 258, 0x01020304, UNKNOWN_ROLE);
  EXPECT_EQ(end, "\1\3\1\2\0\x08\0\0\1\2\3\4\3\0\0\0"s);
}

TEST(FastCgiParams, ShortAndLongLengthsAnyBytesAndMalformedInput) {
  std::string encoded;
  const std::string name(200, 'N'), value = "a\0b\xff"s;
  append_pair(encoded, name, value);
  append_pair(encoded, std::string(127, 'v'), "");
  EXPECT_EQ(encoded.substr(0, 5), "\x80\0\0\xc8\4"s);
  EXPECT_EQ(encoded.size(), 5 + 204 + 2 + 127u);
  Params out;
  ASSERT_TRUE(parse_params(encoded + "\x80\0\0\1\0k"s, out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], std::make_pair(name, value));
  EXPECT_EQ(out[1].first.size(), 127u);
  EXPECT_EQ(out[2], std::make_pair("k"s, ""s));
  for (std::string bad :
       {"\x80\0\0"s, "\1"s, "\2\0a"s, "\1\2ab"s, "\0\x80\0\0\1"s})
    EXPECT_FALSE(parse_params(bad, out)) << bad.size();
}

// Two multiplexed requests, a refused role, management records and strays.
const std::string TALK =
    record(GET_VALUES, 0, "\x0e\0FCGI_MAX_CONNS\x0f\0FCGI_MPXS_CONNS\3\0ABC"s) +
    begin(1, 1, 1) + begin(2) + params(2, {{"B", "2"}}) +
    params(1, {{"A", "1"}, {"Q", std::string(300, 'q')}}, 7) +
    record(STDIN, 2, "two") + record(STDIN, 1, "one") +
    record(ABORT_REQUEST, 2, "") + record(STDIN, 1, "") +
    record(STDIN, 2, "late") + begin(3, 3) + params(3, {{"C", "3"}}) +
    record(40, 1, "") + record(STDIN, 9, "stray") + begin(4) +
    record(ABORT_REQUEST, 4, "");

TEST(FastCgiConnection, AnySplitGivesTheSameCallsAndReplies) {
  const std::string expected =
      "request 2 B=2\nrequest 1 A=1 Q=" + std::string(300, 'q') +
      "\nstdin 2 [two]\nstdin 1 [one]\nabort 2\nstdin 1 []\nreplies " +
      record(GET_VALUES_RESULT, 0,
             "\x0e\x04"
             "FCGI_MAX_CONNS1000\x0f\1"
             "FCGI_MPXS_CONNS1"s);
  std::string end3, end4;
  append_end_request(end3, 3, 0, UNKNOWN_ROLE);
  append_end_request(end4, 4, 0, REQUEST_COMPLETE);
  const std::string unknown = "\1\x0b\0\0\0\x08\0\0\x28\0\0\0\0\0\0\0"s;
  for (std::size_t step : {100000u, 1u, 0u, 3u})
    EXPECT_EQ(run(TALK, step), expected + end3 + unknown + end4) << step;
}

TEST(FastCgiConnection, ProtocolErrorsStopTheCalls) {
  const std::string ok = begin(1) + params(1, {{"A", "1"}});
  EXPECT_EQ(run("\2"s + ok.substr(1) + ok, 0, false), "replies ");
  for (const std::string& bad :
       {begin(1), params(1, {}), record(STDOUT, 1, "x"),
        record(PARAMS, 5, "\1\1AB"), record(BEGIN_REQUEST, 2, "\0\1")})
    EXPECT_EQ(run(ok + bad + record(STDIN, 1, "x"), 0, false),
              "request 1 A=1\nreplies ");
  EXPECT_EQ(run(begin(1) + record(STDIN, 1, "x"), 1, false), "replies ");
  const std::string malformed =
      record(PARAMS, 1, "\1\5A") + record(PARAMS, 1, "");
  EXPECT_EQ(run(begin(1) + malformed, 1, false), "replies ");
}

TEST(FastCgiConnection, LimitsKeepConnAndReuseOfIds) {
  Connection::Limits limits;
  limits.max_params_bytes = 300;
  limits.max_requests = 1;
  const std::string p =
      params(1, {{"Q", std::string(294, 'q')}}, 100);  // 300 bytes
  EXPECT_EQ(run(begin(1) + p, 5, true, limits).substr(0, 10), "request 1 ");
  EXPECT_EQ(run(begin(1) + params(1, {{"Q", std::string(295, 'q')}}), 5, false,
                limits),
            "replies ");
  Connection connection(limits);
  Log log;
  std::string talk =
      begin(1, 1, 1) + begin(2, 1, 1) +
      record(GET_VALUES, 0, "\x0d\0FCGI_MAX_REQS\x0d\0FCGI_MAX_REQS"s);
  ASSERT_TRUE(connection.feed(talk.data(), talk.size(), log));
  std::string refused;
  append_end_request(refused, 2, 0, OVERLOADED);
  EXPECT_EQ(connection.replies(), refused + record(GET_VALUES_RESULT, 0,
                                                   "\x0d\1"
                                                   "FCGI_MAX_REQS1"s));
  EXPECT_TRUE(connection.keep_connection(1));
  EXPECT_FALSE(connection.close_after_replies());
  connection.finished(1);
  EXPECT_FALSE(connection.keep_connection(1));
  // Aborted before on_request: the connection ends it and closes after.
  connection.replies().clear();
  talk = begin(2) + record(ABORT_REQUEST, 2, "") + begin(1) + params(1, {});
  ASSERT_TRUE(connection.feed(talk.data(), talk.size(), log));
  EXPECT_EQ(log.calls, "request 1\n");
  std::string ended;
  append_end_request(ended, 2, 0, REQUEST_COMPLETE);
  EXPECT_EQ(connection.replies(), ended);
  EXPECT_FALSE(connection.keep_connection(1));
  EXPECT_TRUE(connection.close_after_replies());
}

}  // namespace
}  // namespace fcgi
}  // namespace bridge
