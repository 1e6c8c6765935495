// TypedReference: the object through which generic code (the file drivers, queues, the expression
// evaluator, ANY values) reads and writes storage of one ValueType without knowing its layout.
//
// There is one class per storage kind, all behind this interface, whose virtual operations keep a
// fixed order (the slot order of the run-time's typed references; the slot number is given with
// each; slots 7, 8, 22 and 31 have no behaviour defined for any kind here and are left out).
// Every kind converts through its natural kind: LONG for the integers, DATE and TIME, REAL
// for the floating types, STRING for the text types, DECIMAL for the packed decimals. Text travels
// through the StringStack and decimals through the decimal stack, so a typed store gives exactly
// the result of the corresponding stack operation.
//
// An operation that a kind does not support ends the program with the fatal run-time error
// "Parameter typing error"; a reference whose address is null ends it with "Null pointer
// de-reference" rather than touching memory.
//
// Storage layouts (all integers little-endian):
//   BYTE 1 unsigned | SHORT 2 signed | USHORT 2 | LONG 4 signed | ULONG 4
//   DATE  4: day (1..31), month (1..12), year (16 bits)    sorts by date as a 32-bit number
//   TIME  4: hundredths, seconds, minutes, hours (0..23)   sorts by time as a 32-bit number
//   SREAL 4 / REAL 8: IEEE 754          BFLOAT4 4 / BFLOAT8 8: MBF (runtime/values/mbf.hpp)
//   DECIMAL n: sign nibble, then 2n-1 digits     PDECIMAL n: 2n-1 digits, then the sign nibble
//   STRING n: blank-padded   CSTRING n: text and NUL   PSTRING n: length byte, then the text
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "runtime/values/string_stack.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn {

class TypedReference;

// The storage of an ANY variable: the value it holds, or the storage it is bound to. An ANY that
// holds a value owns a temporary of the value's type; an ANY bound by reference writes through to
// the bound storage, converting to its type.
struct AnyValue {
  std::unique_ptr<TypedReference> target;  // null: holds nothing
  bool by_reference = false;

  // Binds the ANY to another storage (the language's reference assignment).
  void bind(std::unique_ptr<TypedReference> reference);
  // Drops the value or the binding.
  void reset();
};

class TypedReference {
 public:
  static constexpr uint8_t kOwnsBuffer = 0x01;  // flags bit 0: frees its storage when released

  TypedReference(const TypedReference&) = delete;
  TypedReference& operator=(const TypedReference&) = delete;
  virtual ~TypedReference();

  // 1, 2: assign from a LONG or a REAL (a REAL into an integer, DATE or TIME truncates toward
  // zero; narrowing keeps the low bytes).
  virtual void assign_long(int32_t value);
  virtual void assign_real(double value);
  // 3: assign from any reference through this class's natural kind.
  virtual void assign_natural(const TypedReference& source);
  // 4: assign from any reference through the source's kind (text through the StringStack,
  // decimals through the decimal stack).
  virtual void assign(const TypedReference& source);
  // 5: -1, 0 or 1 as the value is below, equal to or above `value`.
  virtual int compare_long(int32_t value) const;
  // 6: the type code.
  virtual ValueType type() const { return type_; }
  // 9: assign from an OLE VARIANT (empty clears).
  virtual void assign_variant(const StackVariant& value);
  // 10, 11: pop the top of the StringStack into the storage; push the storage onto it.
  virtual void pop_string();
  virtual void push_string() const;
  // 12, 13: the same with the decimal stack.
  virtual void pop_decimal();
  virtual void push_decimal() const;
  // 14, 15: read as REAL, as LONG.
  virtual double read_real() const;
  virtual int32_t read_long() const;
  // 16: frees an owned buffer and clears the address and the flags.
  virtual void release();
  // 17: direction 0 sets zero, spaces (STRING) or empty (CSTRING, PSTRING); a positive direction
  // the highest value, a negative one the lowest.
  virtual void clear(int direction);
  // 18: the address of the storage.
  virtual void* address() const { return storage_; }
  // 19: a second reference to the same storage. It does not own the storage, so it must not
  // outlive the reference that does.
  virtual std::unique_ptr<TypedReference> clone() const;
  // 20, 21: a STRING reference to the characters first..last (1-based, inclusive; first = last + 1
  // is an empty part) or to the one character at `index` (text kinds only). A part outside the
  // text ends the program with "Index out of range".
  virtual std::unique_ptr<TypedReference> slice(uint32_t first, uint32_t last) const;
  virtual std::unique_ptr<TypedReference> character(uint32_t index) const;
  // 23: a flag that is 0 for every kind here.
  virtual uint32_t extended_flag() const { return 0; }
  // 24: the size of the storage in bytes (the declared size for text, the byte size for
  // decimals).
  virtual uint32_t size() const { return size_; }
  // 25: LONG, REAL, STRING or DECIMAL.
  virtual ValueType natural_kind() const;
  // 26: compares through the common kind of the two: text with text by the collation table
  // (blank-padded), with a REAL as REAL, with anything else as a decimal; REAL with any number as
  // REAL; a decimal with an integer as a decimal; two integers as integers. -1, 0 or 1.
  virtual int compare(const TypedReference& other) const;
  // 27, 28: true when a number is 0 or a text is all spaces (the two slots answer alike).
  virtual bool is_empty() const;
  virtual bool is_blank() const { return is_empty(); }
  // 29, 30: convert the text between the OEM and the ANSI character sets in place (no effect on
  // numbers).
  virtual void oem_to_ansi() {}
  virtual void ansi_to_oem() {}
  // 32: adds the other value to this one through their common kind (two integers as LONG, with
  // a REAL as REAL, otherwise as decimals; text counts as a number here).
  virtual void add(const TypedReference& other);
  // 33: compares with a reference of another kind through the common kind (as 26).
  virtual int compare_mixed(const TypedReference& other) const { return compare(other); }
  // 34: the value hash of the stored bytes (runtime/values/value_hash.hpp).
  virtual uint32_t hash() const;
  // 35: points the reference at other storage (an owned buffer is freed first).
  virtual void set_address(void* address);
  // 36: true when the other reference has the same type code, size and places.
  virtual bool same_type_info(const TypedReference& other) const;
  // 37: assign from a reference of the same type by copying the bytes; a reference of another
  // type (or size) is assigned as by 4.
  virtual void copy_from(const TypedReference& source);
  // 38: copies the stored bytes (those that hash() covers) to `destination` and returns their
  // count. REQUIRES: `destination` holds size() bytes.
  virtual uint32_t copy_out(uint8_t* destination) const;

  // Not slots: the declaration's places (decimals), the flags byte, and the reference that holds
  // the value (an ANY gives its target, null when it holds nothing; every other kind itself).
  uint32_t places() const { return places_; }
  uint8_t flags() const { return flags_; }
  virtual const TypedReference* resolved() const { return this; }

 protected:
  TypedReference(ValueType type, void* address, uint32_t size, uint32_t places = 0);

  // A reference of the same class, type and shape to other storage.
  virtual std::unique_ptr<TypedReference> rebind(void* address) const = 0;
  // The bytes that hash() and copy_out() cover.
  virtual std::span<const uint8_t> stored_bytes() const;

  // The storage; a null address ends the program ("Null pointer de-reference").
  uint8_t* bytes() const;
  // Gives the reference a zeroed heap buffer of `size` bytes that it owns.
  void own_new_storage(uint32_t size);
  // Ends the program with "Parameter typing error".
  static void typing_error();

  ValueType type_;
  uint8_t flags_ = 0;
  uint32_t size_;
  uint32_t places_;
  uint8_t* storage_;

 private:
  friend std::unique_ptr<TypedReference> make_owned_reference(ValueType, uint32_t, uint32_t);
  std::unique_ptr<uint8_t[]> owned_;
};

// Makes the typed reference for a type code and the address of its storage: `size` is the
// declared size of a text, or the byte size of a decimal with `places` decimal places (other types
// have a fixed size). Supported: BYTE to PDECIMAL, BFLOAT4, BFLOAT8, STRING and GROUP, CSTRING,
// PSTRING, ANY and ANY_REFERENCE (`address` points to an AnyValue), and the temporaries
// TEMP_STRING, TEMP_LONG and TEMP_REAL, which ignore `address` and own fresh storage (blanks or
// zero). Any other code ends the program with the fatal error 501 "String Stack Error".
std::unique_ptr<TypedReference> make_typed_reference(ValueType type, void* address,
                                                     uint32_t size = 0, uint32_t places = 0);

// A reference of the given type and shape to fresh storage that it owns, cleared to zero or
// blanks.
std::unique_ptr<TypedReference> make_owned_reference(ValueType type, uint32_t size = 0,
                                                     uint32_t places = 0);

}  // namespace vtn
