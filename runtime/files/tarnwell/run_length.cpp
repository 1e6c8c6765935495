#include "runtime/files/tarnwell/run_length.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kCheckLiteralPastEnd = 522;
constexpr int32_t kCheckRepeatPastEnd = 530;
constexpr int32_t kCheckStreamShort = 1602;
constexpr size_t kMinRun = 4;

void put_count(std::vector<uint8_t>& out, size_t count) {
  while (count >= 0x80) {
    out.push_back(static_cast<uint8_t>(count | 0x80));
    count >>= 7;
  }
  out.push_back(static_cast<uint8_t>(count));
}

// Reads a count; a count too large for any page reads as SIZE_MAX so that the caller's bound
// check fails with its own number.
size_t get_count(std::span<const uint8_t> in, size_t& pos) {
  size_t value = 0;
  for (int shift = 0;; shift += 7) {
    if (pos >= in.size()) raise_internal_error(kCheckStreamShort);
    const uint8_t b = in[pos++];
    if (shift < 35) {
      value |= static_cast<size_t>(b & 0x7F) << shift;
    } else if (b & 0x7F) {
      value = SIZE_MAX;  // far beyond any page; keep consuming the count's bytes
    }
    if ((b & 0x80) == 0) return value;
  }
}

}  // namespace

bool rle_compress(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  const size_t n = in.size();
  const size_t out_start = out.size();
  size_t pending = 0;  // first byte not yet written
  bool any_run = false;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && in[i + run] == in[i]) ++run;
    if (run < kMinRun) {
      i += run;
      continue;
    }
    put_count(out, i + 1 - pending);
    out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(pending),
               in.begin() + static_cast<ptrdiff_t>(i + 1));
    put_count(out, run - 1);
    any_run = true;
    i += run;
    pending = i;
  }
  if (!any_run) {
    out.resize(out_start);
    return false;
  }
  put_count(out, n - pending);
  out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(pending), in.end());
  return true;
}

size_t rle_expand(std::span<const uint8_t> in, std::span<uint8_t> out) {
  size_t pos = 0;
  size_t done = 0;
  while (done < out.size()) {
    const size_t literal = get_count(in, pos);
    if (literal > out.size() - done) raise_internal_error(kCheckLiteralPastEnd);
    if (literal > in.size() - pos) raise_internal_error(kCheckStreamShort);
    std::memcpy(out.data() + done, in.data() + pos, literal);
    pos += literal;
    done += literal;
    if (done == out.size()) break;
    const size_t repeat = get_count(in, pos);
    if (repeat > out.size() - done || (repeat > 0 && done == 0)) {
      raise_internal_error(kCheckRepeatPastEnd);
    }
    std::memset(out.data() + done, done ? out[done - 1] : 0, repeat);
    done += repeat;
    // A stream that ends with a run carries a final literal count of 0.
    if (done == out.size() && pos < in.size() && in[pos] == 0) ++pos;
  }
  return pos;
}

}  // namespace vtn::tarnwell
