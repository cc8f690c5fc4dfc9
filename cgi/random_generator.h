// random_generator.h: the players' linear congruential generator.
#ifndef WHIRLO_CGI_RANDOM_GENERATOR_H
#define WHIRLO_CGI_RANDOM_GENERATOR_H

#include <cstdint>

namespace cgi {

class RandomGenerator {
 public:
  void seed(std::uint32_t seed) { state_ = seed; }
  /// The next number, 0 to 32767.
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_ = 0;
};

}  // namespace cgi

#endif  // WHIRLO_CGI_RANDOM_GENERATOR_H
