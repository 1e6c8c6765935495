#include "tools/twl/progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace twl {

namespace {

constexpr int kBarWidth = 20;
constexpr auto kTerminalPeriod = std::chrono::milliseconds(100);
constexpr auto kPlainPeriod = std::chrono::seconds(1);

std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

}  // namespace

Progress::Progress(std::string what, uint64_t total, Plain plain, std::FILE* out)
    : what_(std::move(what)),
      total_(total),
      plain_(plain),
      out_(out),
      terminal_(isatty(fileno(out)) != 0),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() {
  finish();
}

std::string Progress::bar_line(const std::string& what, uint64_t done, uint64_t total,
                               double seconds) {
  std::string line = what;
  const double rate = seconds > 0 ? done / seconds : 0;
  if (total > 0) {
    const double fraction = std::min(1.0, static_cast<double>(done) / total);
    const int filled = static_cast<int>(fraction * kBarWidth);
    line += "  [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    line += percent;
  }
  line += "  " + grouped(done) + " records";
  if (seconds > 0) line += "  " + grouped(static_cast<uint64_t>(rate)) + " rec/s";
  if (total > 0 && rate > 0 && done < total) {
    line +=
        "  " + std::to_string(static_cast<uint64_t>(std::ceil((total - done) / rate))) + " s left";
  }
  return line;
}

void Progress::update(uint64_t done) {
  done_ = done;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < (terminal_ ? kTerminalPeriod : kPlainPeriod)) return;
  last_draw_ = now;
  draw(done, false);
}

void Progress::finish() {
  if (finished_) return;
  finished_ = true;
  draw(done_, true);
}

void Progress::draw(uint64_t done, bool last) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string line = bar_line(what_, done, total_, seconds);
  if (terminal_) {
    // "\r" and erase to the end of the line: the bar is redrawn in place.
    std::fprintf(out_, "\r%s\033[K%s", line.c_str(), last ? "\n" : "");
  } else if (plain_ == Plain::lines) {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

}  // namespace twl
