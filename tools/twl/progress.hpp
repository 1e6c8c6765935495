// Progress of long work on standard error. On a terminal a bar is redrawn in place:
//
//   rebuild  [##########..........]  50%  1,234 rec/s  12 s left
//
// Elsewhere (a log, a pipe) plain lines are written instead, at most one per second and one at
// the end, when asked for; by default nothing is written there, so that scripts see only what
// they asked for.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace twl {

class Progress {
 public:
  enum class Plain { quiet, lines };

  // `total` 0: unknown (no bar, no time left).
  Progress(std::string what, uint64_t total, Plain plain = Plain::quiet, std::FILE* out = stderr);
  ~Progress();  // finishes the line on a terminal

  void update(uint64_t done);
  void finish();
  bool on_terminal() const { return terminal_; }

  // The bar line for a state, without control characters (what update() draws).
  static std::string bar_line(const std::string& what, uint64_t done, uint64_t total,
                              double seconds);

 private:
  void draw(uint64_t done, bool last);

  std::string what_;
  uint64_t total_;
  Plain plain_;
  std::FILE* out_;
  bool terminal_;
  bool finished_ = false;
  uint64_t done_ = 0;
  std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace twl
