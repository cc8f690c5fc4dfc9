// OutputRelay on an arbitrary output file. Input: one byte that chooses NPH
// and how often everything held is taken at once, one that seeds the slice
// sizes, then the file.
//
// Checked: the pieces handed out, joined, are the converted header block
// followed by the body byte for byte, however the file arrives and however
// often take_all cuts in; a header block that cannot be relayed fails in
// every case alike; once failed the relay stays failed; a PART piece ends
// just past the header block of the part after a delimiter.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "bridge/output_relay.h"
#include "fuzz_support.h"

namespace {

using bridge::OutputRelay;
using bridge::Piece;

struct Outcome {
  bool failed = false;
  std::string out;
};

// The end of the header block as the relay finds it: past the first LF LF,
// or past an earlier LF CR LF; npos when there is none.
std::size_t header_end(std::string_view file) {
  std::size_t lf = file.find("\n\n");
  std::string_view before =
      file.substr(0, lf == std::string_view::npos ? file.size() : lf + 2);
  std::size_t crlf = before.find("\n\r\n");
  if (crlf != std::string_view::npos) return crlf + 3;
  return lf == std::string_view::npos ? lf : lf + 2;
}

void drain(OutputRelay& relay, Outcome& outcome, std::minstd_rand& random,
           unsigned take_all_every) {
  std::string piece;
  for (;;) {
    Piece kind = take_all_every && random() % take_all_every == 0
                     ? relay.take_all(piece)
                     : relay.next(piece);
    if (kind == Piece::NONE) kind = relay.next(piece);
    if (kind == Piece::NONE) return;
    if (kind == Piece::FAILED) {
      fuzz::check(relay.next(piece) == Piece::FAILED, "failed stays failed");
      outcome.failed = true;
      return;
    }
    outcome.out += piece;
  }
}

Outcome run(std::string_view file, bool nph, unsigned seed,
            unsigned take_all_every) {
  OutputRelay relay(nph);
  Outcome outcome;
  std::minstd_rand random(seed);
  std::size_t at = 0;
  while (at < file.size() && !outcome.failed) {
    std::size_t n = seed == 0 ? file.size() : random() % 300;
    n = n < file.size() - at ? n : file.size() - at;
    relay.feed(file.data() + at, n);
    at += n;
    drain(relay, outcome, random, take_all_every);
  }
  relay.finish();
  if (!outcome.failed) drain(relay, outcome, random, take_all_every);
  fuzz::check(outcome.failed || relay.done(), "everything handed out");
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const bool nph = data[0] & 1;
  const unsigned every = data[0] >> 1;
  const std::string_view file(reinterpret_cast<const char*>(data) + 2,
                              size - 2);
  const Outcome whole = run(file, nph, 0, 0);
  const Outcome sliced = run(file, nph, 1 + data[1], every);
  fuzz::check(whole.failed == sliced.failed, "slices fail alike");
  if (whole.failed) return 0;
  fuzz::check(whole.out == sliced.out, "slices give the same bytes",
              fuzz::escaped(whole.out) + "\n---\n" + fuzz::escaped(sliced.out));
  if (file.empty()) return 0;
  std::size_t end = header_end(file);
  if (end == std::string_view::npos) end = file.size();
  std::string header;
  fuzz::check(
      bridge::convert_header(std::string(file.substr(0, end)), nph, header),
      "a relayed header converts");
  fuzz::check(whole.out == header + std::string(file.substr(end)),
              "the body is passed on unchanged", fuzz::escaped(whole.out));
  return 0;
}
