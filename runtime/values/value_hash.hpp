// The value hash of typed storage: a rotate-and-add hash over the stored bytes, used by the
// run-time's containers to place values. Which bytes count depends on the type: the declared size
// for fixed types, the text and its NUL for a CSTRING, the length byte and the text for a PSTRING
// (see TypedReference::hash).
#pragma once

#include <cstdint>
#include <span>

namespace vtn {

inline constexpr uint32_t kValueHashSeed = 0x5AA5A55A;

uint32_t value_hash(std::span<const uint8_t> bytes);

}  // namespace vtn
