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

// Appends the compressed form of `input` to `out` and returns true, or returns false (leaving
// `out` alone) when `input` holds no run of 4 equal bytes: such data is stored plain.
bool rle_compress(std::span<const uint8_t> input, std::vector<uint8_t>& out);

// Expands `input` into exactly `out.size()` bytes and returns the number of input bytes used.
// Check 522 when a literal count, 530 when a repeat count runs past the expanded length (or
// repeats before any byte); check 1602 when the input ends before the expansion is complete.
size_t rle_expand(std::span<const uint8_t> input, std::span<uint8_t> out);

}  // namespace vtn::tarnwell
