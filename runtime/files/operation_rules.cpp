#include "runtime/files/operation_rules.hpp"

#include <array>

#include "runtime/files/file_block.hpp"

namespace vtn {
namespace {

constexpr bool K = true;  // Key column
constexpr bool S = true;  // String-out column
constexpr bool _ = false;

}  // namespace

// clang-format off
constexpr std::array<OperationRule, op::kLast + 1> detail::kOperationRules = {{
  //  name              key in out  control required forbidden set      cleared cleared-on-failure
  {"(0)",               _, 0, _,    0,      0,       0,        0,       0,      0},
  {"ADD",               _, 0, _,    0x1,    0x41,    0,        0x2,     0x1400, 0},
  {"BOF",               _, 0, _,    0,      0x21,    0,        0,       0,      0},
  {"BUILDfile",         _, 0, _,    0x1,    0xC0,    0x4,      0,       0,      0x2022},
  {"APPEND",            _, 0, _,    0x1,    0x41,    0,        0,       0,      0},
  {"BUILDdyn",          K, 1, _,    0x1,    0x1,     0x4,      0x100,   0,      0},
  {"BUILDkey",          K, 0, _,    0x1,    0xC0,    0x4,      0,       0,      0},
  {"CLOSE",             _, 0, _,    0x3,    0x1,     0x4,      0,       0x101,  0},
  {"COMMIT",            _, 0, _,    0x1,    0x5,     0,        0,       0x4,    0},
  {"COPY",              _, 1, _,    0x3,    0,       0x1,      0,       0,      0},
  {"CREATE",            _, 0, _,    0x3,    0,       0x1,      0,       0,      0},
  {"DELETE",            _, 0, _,    0x1,    0x43,    0,        0,       0x2,    0},
  {"DUPLICATE",         _, 0, _,    0x1,    0x41,    0,        0,       0,      0},
  {"EMPTY",             _, 0, _,    0x1,    0xC1,    0x4,      0,       0,      0},
  {"EOF",               _, 0, _,    0,      0x21,    0,        0,       0,      0},
  {"GETfilekey",        K, 0, _,    0x1,    0x101,   0,        0x2,     0xA00,  0x2},
  {"GETfileptr",        _, 0, _,    0x1,    0x1,     0,        0x2,     0xA00,  0x2},
  {"GETkeyptr",         K, 0, _,    0x1,    0x101,   0,        0x2,     0xA00,  0x2},
  {"HOLDfile",          _, 0, _,    0x1,    0x1,     0,        0x800,   0,      0},
  {"HOLDfilesec",       _, 0, _,    0x1,    0x1,     0,        0x800,   0,      0},
  {"LOCKfile",          _, 0, _,    0x1,    0x1,     0x10,     0x90,    0,      0},
  {"LOCKfilesec",       _, 0, _,    0x1,    0x1,     0x10,     0x90,    0,      0},
  {"LOGOUT",            _, 0, _,    0x1,    0x1,     0x4,      0x4,     0,      0},
  {"NAME",              _, 0, S,    0,      0,       0,        0,       0,      0},
  {"NEXT",              _, 0, _,    0x5,    0x21,    0,        0x2,     0xA00,  0x2022},
  {"OPEN",              _, 0, _,    0x1,    0,       0x1,      0x1,     0,      0},
  {"PACK",              _, 0, _,    0x1,    0xC0,    0x4,      0,       0x22,   0x2022},
  {"POINTERfile",       _, 0, _,    0,      0x3,     0,        0,       0,      0},
  {"POINTERkey",        K, 0, _,    0,      0x103,   0,        0,       0,      0},
  {"FLUSH",             _, 0, _,    0x1,    0x1,     0,        0,       0x8,    0},
  {"PUT",               _, 0, _,    0x1,    0x43,    0,        0,       0x1400, 0},
  {"PREVIOUS",          _, 0, _,    0x5,    0x21,    0,        0x2,     0xA00,  0x2022},
  {"RECORDSfile",       _, 0, _,    0,      0x1,     0,        0,       0,      0},
  {"RECORDSkey",        K, 0, _,    0,      0x101,   0,        0,       0,      0},
  {"BUILDdynfilter",    K, 2, _,    0x1,    0x1,     0x4,      0x100,   0,      0},
  {"(35)",              _, 0, _,    0,      0,       0,        0,       0,      0},
  {"RELEASE",           _, 0, _,    0x1,    0x1,     0,        0,       0x1000, 0},
  {"REMOVE",            _, 0, _,    0x3,    0,       0x1,      0,       0,      0},
  {"RENAME",            _, 1, _,    0x3,    0,       0x1,      0,       0,      0},
  {"(39)",              _, 0, _,    0,      0,       0,        0,       0,      0},
  {"ROLLBACK",          _, 0, _,    0x1,    0x5,     0,        0,       0x4,    0},
  {"SETfile",           _, 0, _,    0x5,    0x1,     0,        0x2020,  0,      0x2020},
  {"SETfilekey",        K, 0, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"SETfileptr",        _, 0, _,    0x5,    0x1,     0,        0x2020,  0,      0x2020},
  {"SETkey",            K, 0, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"SETkeykey",         K, 0, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"SETkeyptr",         K, 0, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"SETkeykeyptr",      K, 0, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"SHARE",             _, 0, _,    0x1,    0,       0x1,      0x1,     0,      0},
  {"SKIP",              _, 0, _,    0x5,    0x21,    0,        0,       0x2,    0x2022},
  {"UNLOCK",            _, 0, _,    0x1,    0x11,    0x4,      0,       0x10,   0},
  {"ADDfilelen",        _, 0, _,    0x1,    0x1,     0,        0,       0x1400, 0},
  {"BYTES",             _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"GETfileptrlen",     _, 0, _,    0x1,    0x1,     0,        0x2,     0xA00,  0x2},
  {"PUTfileptr",        _, 0, _,    0x1,    0x41,    0,        0,       0x1400, 0x2},
  {"PUTfileptrlen",     _, 0, _,    0x1,    0x41,    0,        0,       0x1400, 0x2},
  {"STREAM",            _, 0, _,    0x1,    0x1,     0x8,      0x8,     0,      0},
  {"DUPLICATEkey",      K, 0, _,    0x1,    0x101,   0,        0,       0,      0},
  {"WATCH",             _, 0, _,    0x1,    0x1,     0,        0x200,   0,      0},
  {"APPENDlen",         _, 0, _,    0x1,    0x41,    0,        0,       0x1400, 0},
  {"SEND",              _, 1, S,    0x1,    0,       0,        0x10000, 0,      0},
  {"POSITIONfile",      _, 0, S,    0x1,    0x3,     0,        0,       0,      0},
  {"POSITIONkey",       K, 0, S,    0x1,    0x103,   0,        0,       0,      0},
  {"RESETfile",         _, 1, _,    0x5,    0x1,     0,        0x2020,  0,      0x2020},
  {"RESETkey",          K, 1, _,    0x5,    0x101,   0,        0x2020,  0,      0x2020},
  {"NOMEMO",            _, 0, _,    0,      0x1,     0,        0,       0,      0},
  {"REGETfile",         _, 1, _,    0x1,    0x1,     0,        0x2,     0xA00,  0},
  {"REGETkey",          K, 1, _,    0x1,    0x101,   0,        0x2,     0xA00,  0},
  {"NULL",              _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"SETNULL",           _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"SETNONULL",         _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"SET_PROPERTY",      _, 2, _,    0x1,    0,       0,        0x10000, 0,      0},
  {"GET_PROPERTY",      _, 1, S,    0,      0,       0,        0,       0,      0},
  {"QUERY_KEY",         _, 0, _,    0,      0x101,   0,        0,       0,      0},
  {"QUERY_VIEW",        _, 0, _,    0,      0,       0,        0,       0,      0},
  {"BLOB_YIELD",        _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"BLOB_TAKE",         _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"BLOB_SIZE",         _, 0, _,    0,      0x3,     0,        0,       0,      0},
  {"BLOB_GET_PROP",     _, 2, _,    0x1,    0x1,     0,        0x10000, 0,      0},
  {"BLOB_SET_PROP",     _, 1, S,    0x1,    0x1,     0,        0,       0,      0},
  {"BUFFER",            _, 0, _,    0x1,    0x1,     0,        0,       0,      0},
  {"SETview",           _, 0, _,    0x5,    0x1,     0,        0x20,    0,      0x20},
  {"CLEAR",             _, 0, _,    0,      0x1,     0,        0,       0,      0},
  {"RESETviewfile",     _, 0, _,    0x5,    0x1,     0,        0x2020,  0,      0x2020},
  {"BUILDevent",        _, 0, _,    0x1,    0xC0,    0x4,      0,       0,      0x2022},
  {"SETPROPERTYkey",    K, 2, _,    0x1,    0,       0,        0x10000, 0,      0},
  {"GETPROPERTYkey",    K, 1, S,    0,      0,       0,        0,       0,      0},
  {"Internal",          _, 0, _,    0,      0,       0,        0,       0,      0},
  {"DO_PROPERTY",       _, 1, _,    0x1,    0,       0,        0x10000, 0,      0},
  {"DOPROPERTYkey",     K, 1, _,    0x1,    0,       0,        0x10000, 0,      0},
  {"DOPROPERTYblob",    _, 1, _,    0x1,    0,       0,        0x10000, 0,      0},
  {"Internal",          _, 0, _,    0,      0,       0,        0,       0,      0},
  {"INVIEW",            _, 0, _,    0x1,    0x1,     0x100,    0x100,   0,      0},
  {"ENDVIEW",           _, 0, _,    0x1,    0x1,     0,        0,       0x100,  0},
  {"Internal",          _, 0, _,    0x1,    0,       0x1,      0,       0,      0},
  {"COUNTRECORDS",      _, 0, _,    0,      0x1,     0,        0,       0,      0},
}};
// clang-format on

namespace {

// Operations that take the file's texts afresh: a stale instance (neither open nor touched by a
// property) is discarded before them.
constexpr std::array<int32_t, 15> kFreshTextOperations = {
    op::SEND,         op::BLOB_GET_PROP, op::DOPROPERTYblob, op::SETPROPERTYkey, op::DOPROPERTYkey,
    op::SET_PROPERTY, op::DO_PROPERTY,   op::COPY,           op::RENAME,         op::NAME,
    op::REMOVE,       op::CREATE,        op::OPEN,           op::SHARE,          op::CLOSE};

// What a BUILD in progress still allows.
constexpr std::array<int32_t, 5> kAllowedWhileBuilding = {op::BUILDevent, op::GET_PROPERTY,
                                                          op::GETPROPERTYkey, op::CLOSE, op::NAME};

// Operations whose first string is a position.
constexpr std::array<int32_t, 4> kPositionOperations = {op::REGETfile, op::REGETkey, op::RESETfile,
                                                        op::RESETkey};

constexpr bool is_plain(const OperationRule& rule, uint8_t traits) {
  return rule.strings_in == 0 && !rule.string_out && (rule.required & FS_OPEN) != 0 &&
         (rule.control & FC_DISCARD) == 0 &&
         (traits & (OT_TEXTS_AFRESH | OT_ALLOWED_IN_BUILD | OT_POSITION)) == 0;
}

}  // namespace

constexpr std::array<uint8_t, op::kLast + 1> detail::kOperationTraits = [] {
  std::array<uint8_t, op::kLast + 1> traits{};
  for (int32_t code : kFreshTextOperations) traits[static_cast<size_t>(code)] |= OT_TEXTS_AFRESH;
  for (int32_t code : kAllowedWhileBuilding)
    traits[static_cast<size_t>(code)] |= OT_ALLOWED_IN_BUILD;
  for (int32_t code : kPositionOperations) traits[static_cast<size_t>(code)] |= OT_POSITION;
  for (int32_t code = 0; code <= op::kLast; ++code) {
    auto& t = traits[static_cast<size_t>(code)];
    if (operation_returns_value(code)) t |= OT_VALUE;
    if (is_plain(kOperationRules[static_cast<size_t>(code)], t)) t |= OT_PLAIN;
  }
  return traits;
}();

std::string_view operation_name(int32_t code) {
  if (code < 0 || code > op::kLast) return {};
  return detail::kOperationRules[static_cast<size_t>(code)].name;
}

}  // namespace vtn
