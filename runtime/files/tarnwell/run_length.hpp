// Run-length compression of page bodies.
//
// The compressed stream is a sequence of pairs
//     literal count L, L literal bytes, repeat count R (the last literal byte, R more times)
// ending when the expanded length is reached, which may come right after the literals of a pair
// (no repeat count follows then). Counts are variable-length: 7 bits a byte, least significant
// group first, 0x80 on every byte that another follows.
//
// The compressor encodes only runs of 4 or more equal bytes, and, once it has encoded a run,
// always ends with a final literal count (possibly 0) and the remaining bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vtn::tarnwell {

// The most bytes the compressed form of `n` bytes can take: a pair takes at most one byte more
// than a quarter of the bytes it encodes (its run holds at least 4), the final count at most 10.
constexpr size_t rle_compress_bound(size_t n) {
  return n + n / 2 + 32;
}

// Writes the compressed form of `input` at `out`, which has room for rle_compress_bound() bytes,
// and returns its length; 0 (when `input` holds no run of 4 equal bytes: such data is stored
// plain) leaves `out` alone.
size_t rle_compress_into(std::span<const uint8_t> input, uint8_t* out);
// The same, appended to `out`; false when there is no run.
bool rle_compress(std::span<const uint8_t> input, std::vector<uint8_t>& out);

// Expands `input` into exactly `out.size()` bytes and returns the number of input bytes used.
// Check 522 when a literal count, 530 when a repeat count runs past the expanded length (or
// repeats before any byte); check 1602 when the input ends before the expansion is complete.
size_t rle_expand(std::span<const uint8_t> input, std::span<uint8_t> out);

}  // namespace vtn::tarnwell
