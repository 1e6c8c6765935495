// The operation codes of the driver interface and the OperationRules table that both drivers
// apply around every call: which FileState bits an operation requires and forbids, which it sets
// and clears, which FileControl bits a success grants, and how many strings it takes and gives.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vtn {

// Operation codes. EOF and NULL are macros of the C library, so those two carry a trailing
// underscore.
namespace op {
inline constexpr int32_t ADD = 1;
inline constexpr int32_t BOF = 2;
inline constexpr int32_t BUILDfile = 3;
inline constexpr int32_t APPEND = 4;
inline constexpr int32_t BUILDdyn = 5;
inline constexpr int32_t BUILDkey = 6;
inline constexpr int32_t CLOSE = 7;
inline constexpr int32_t COMMIT = 8;
inline constexpr int32_t COPY = 9;
inline constexpr int32_t CREATE = 10;
inline constexpr int32_t DELETE = 11;
inline constexpr int32_t DUPLICATE = 12;
inline constexpr int32_t EMPTY = 13;
inline constexpr int32_t EOF_ = 14;
inline constexpr int32_t GETfilekey = 15;
inline constexpr int32_t GETfileptr = 16;
inline constexpr int32_t GETkeyptr = 17;
inline constexpr int32_t HOLDfile = 18;
inline constexpr int32_t HOLDfilesec = 19;
inline constexpr int32_t LOCKfile = 20;
inline constexpr int32_t LOCKfilesec = 21;
inline constexpr int32_t LOGOUT = 22;
inline constexpr int32_t NAME = 23;
inline constexpr int32_t NEXT = 24;
inline constexpr int32_t OPEN = 25;
inline constexpr int32_t PACK = 26;
inline constexpr int32_t POINTERfile = 27;
inline constexpr int32_t POINTERkey = 28;
inline constexpr int32_t FLUSH = 29;
inline constexpr int32_t PUT = 30;
inline constexpr int32_t PREVIOUS = 31;
inline constexpr int32_t RECORDSfile = 32;
inline constexpr int32_t RECORDSkey = 33;
inline constexpr int32_t BUILDdynfilter = 34;
inline constexpr int32_t RELEASE = 36;
inline constexpr int32_t REMOVE = 37;
inline constexpr int32_t RENAME = 38;
inline constexpr int32_t ROLLBACK = 40;
inline constexpr int32_t SETfile = 41;
inline constexpr int32_t SETfilekey = 42;
inline constexpr int32_t SETfileptr = 43;
inline constexpr int32_t SETkey = 44;
inline constexpr int32_t SETkeykey = 45;
inline constexpr int32_t SETkeyptr = 46;
inline constexpr int32_t SETkeykeyptr = 47;
inline constexpr int32_t SHARE = 48;
inline constexpr int32_t SKIP = 49;
inline constexpr int32_t UNLOCK = 50;
inline constexpr int32_t ADDfilelen = 51;
inline constexpr int32_t BYTES = 52;
inline constexpr int32_t GETfileptrlen = 53;
inline constexpr int32_t PUTfileptr = 54;
inline constexpr int32_t PUTfileptrlen = 55;
inline constexpr int32_t STREAM = 56;
inline constexpr int32_t DUPLICATEkey = 57;
inline constexpr int32_t WATCH = 58;
inline constexpr int32_t APPENDlen = 59;
inline constexpr int32_t SEND = 60;
inline constexpr int32_t POSITIONfile = 61;
inline constexpr int32_t POSITIONkey = 62;
inline constexpr int32_t RESETfile = 63;
inline constexpr int32_t RESETkey = 64;
inline constexpr int32_t NOMEMO = 65;
inline constexpr int32_t REGETfile = 66;
inline constexpr int32_t REGETkey = 67;
inline constexpr int32_t NULL_ = 68;
inline constexpr int32_t SETNULL = 69;
inline constexpr int32_t SETNONULL = 70;
inline constexpr int32_t SET_PROPERTY = 71;
inline constexpr int32_t GET_PROPERTY = 72;
inline constexpr int32_t QUERY_KEY = 73;
inline constexpr int32_t QUERY_VIEW = 74;
inline constexpr int32_t BLOB_YIELD = 75;
inline constexpr int32_t BLOB_TAKE = 76;
inline constexpr int32_t BLOB_SIZE = 77;
inline constexpr int32_t BLOB_GET_PROP = 78;
inline constexpr int32_t BLOB_SET_PROP = 79;
inline constexpr int32_t BUFFER = 80;
inline constexpr int32_t SETview = 81;
inline constexpr int32_t CLEAR = 82;
inline constexpr int32_t RESETviewfile = 83;
inline constexpr int32_t BUILDevent = 84;
inline constexpr int32_t SETPROPERTYkey = 85;
inline constexpr int32_t GETPROPERTYkey = 86;
inline constexpr int32_t Internal87 = 87;
inline constexpr int32_t DO_PROPERTY = 88;
inline constexpr int32_t DOPROPERTYkey = 89;
inline constexpr int32_t DOPROPERTYblob = 90;
inline constexpr int32_t Internal91 = 91;  // the driver's own entry address
inline constexpr int32_t INVIEW = 92;
inline constexpr int32_t ENDVIEW = 93;
inline constexpr int32_t Internal94 = 94;
inline constexpr int32_t COUNTRECORDS = 95;

inline constexpr int32_t kLast = 95;
}  // namespace op

// One row of OperationRules. Bit 0x100 in required, set and cleared means the key's
// FS_KEYREADY, not a FileState bit.
struct OperationRule {
  std::string_view name;        // as the trace prints it
  bool key;                     // the first operand word is a KeyBlock
  uint8_t strings_in;           // strings popped from the StringStack
  bool string_out;              // a string result is pushed
  uint32_t control;             // FileControl granted on success
  uint32_t required;            // FileState bits that must be present
  uint32_t forbidden;           // FileState bits that must be absent
  uint32_t set;                 // set on success
  uint32_t cleared;             // cleared on success
  uint32_t cleared_on_failure;  // cleared on failure
};

namespace detail {
// Indexed by operation code; row 0 is a placeholder (code 0 has no rules).
extern const std::array<OperationRule, op::kLast + 1> kOperationRules;

// Operations whose entry result is a value rather than an error code.
inline constexpr std::array<int32_t, 15> kValueOperations = {
    op::BOF,        op::EOF_,         op::RECORDSfile, op::RECORDSkey,   op::POINTERfile,
    op::POINTERkey, op::BYTES,        op::DUPLICATE,   op::DUPLICATEkey, op::BLOB_SIZE,
    op::QUERY_KEY,  op::COUNTRECORDS, op::Internal91,  op::QUERY_VIEW,   op::NULL_};
}  // namespace detail

// The row of `code`; null for code 0 and for codes outside 1..95. Every call of every driver looks
// its row up, so the lookup is an index.
inline const OperationRule* operation_rule(int32_t code) {
  if (static_cast<uint32_t>(code) - 1 >= static_cast<uint32_t>(op::kLast)) return nullptr;
  return &detail::kOperationRules[static_cast<size_t>(code)];
}

// The name the trace prints: the row's name, "(0)" for code 0, empty outside 0..95.
std::string_view operation_name(int32_t code);

// True for the operations whose entry result is a number or a Boolean rather than an error
// code (BOF, EOF, RECORDS, POINTER, BYTES, DUPLICATE, NULL, BLOB_SIZE, QUERY_KEY, COUNTRECORDS
// and the internal entry query).
constexpr bool operation_returns_value(int32_t code) {
  for (int32_t c : detail::kValueOperations)
    if (c == code) return true;
  return false;
}

// What the call sequence needs to know of an operation beyond its row, as one byte per code so
// that a call finds all of it with one index.
enum OperationTrait : uint8_t {
  OT_TEXTS_AFRESH = 0x1,      // a stale instance is discarded first (SEND, the properties, COPY,
                              // RENAME, NAME, REMOVE, CREATE, OPEN, SHARE, CLOSE)
  OT_ALLOWED_IN_BUILD = 0x2,  // still allowed while a BUILD is under way
  OT_POSITION = 0x4,          // the first string is a position (REGET, RESET)
  OT_VALUE = 0x8,             // the entry result is a value (operation_returns_value)
  // An operation of the usual kind: it needs the file open, takes and gives no strings, and
  // neither discards the instance nor has any of the traits above except OT_VALUE. On an
  // instance whose state satisfies the row, such a call has nothing to do in the steps around
  // the operation but the state update and the result; the call sequence runs it on a short way.
  OT_PLAIN = 0x10,
};

namespace detail {
extern const std::array<uint8_t, op::kLast + 1> kOperationTraits;
}  // namespace detail

// The traits of `code` (OT_*); 0 outside 0..95.
inline uint8_t operation_traits(int32_t code) {
  return static_cast<uint32_t>(code) <= static_cast<uint32_t>(op::kLast)
             ? detail::kOperationTraits[static_cast<size_t>(code)]
             : 0;
}

}  // namespace vtn
