// The makers of the typed-reference classes, one per storage kind, for the factory in
// typed_reference.cpp. Not for use outside the typed references; go through make_typed_reference.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/values/typed_reference.hpp"

namespace vtn::detail {

// The common kind through which two values compare (`arithmetic` false) or add (`arithmetic`
// true); see TypedReference::compare and TypedReference::add.
ValueType common_kind(ValueType a, ValueType b, bool arithmetic);

// REAL to LONG as the run-time stores it: truncated toward zero, the low 32 bits kept; a value
// with no 64-bit integer part (NaN, infinities, beyond 2^63) gives 0x80000000.
int32_t truncate_real(double value);

// BYTE, SHORT, USHORT, LONG, ULONG.
std::unique_ptr<TypedReference> make_integer_reference(ValueType type, void* address);
// SREAL, REAL, BFLOAT4, BFLOAT8.
std::unique_ptr<TypedReference> make_real_reference(ValueType type, void* address);
// DATE, TIME.
std::unique_ptr<TypedReference> make_date_time_reference(ValueType type, void* address);
// STRING, GROUP, CSTRING, PSTRING.
std::unique_ptr<TypedReference> make_text_reference(ValueType type, void* address, uint32_t size);
// DECIMAL, PDECIMAL.
std::unique_ptr<TypedReference> make_decimal_reference(ValueType type, void* address, uint32_t size,
                                                       uint32_t places);
// ANY, ANY_REFERENCE.
std::unique_ptr<TypedReference> make_any_reference(ValueType type, AnyValue* value);

}  // namespace vtn::detail
