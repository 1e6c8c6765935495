// The driver options of SEND(file, text), examined in this order; the reply is a text:
//   "TCF" anywhere (exact case)        the explicit transaction control file name; "TCF=name"
//                                      sets it, "TCF=" clears it
//   "FULLBUILD" at the start (any case) "ON" or "OFF"; "=ON..." (any case) sets it, "=" and
//                                      anything else clears it
//   "FLAGS" at the start (any case)    the table's FLAGS value in decimal; "=n" stores n
//   "PNM=" anywhere (exact case)       the first table name of the file at or after the text
// Any other text gets an empty reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn::tarnwell {

enum class SendOption { none, tcf, fullbuild, flags, table_name };

struct SendRequest {
  SendOption option = SendOption::none;
  bool assigns = false;  // a value follows "="
  std::string value;     // the text after "=" (TCF, FULLBUILD, PNM=), or after FLAGS=
};

SendRequest parse_send(std::string_view text);

// The number of "FLAGS=n": leading blanks skipped, an optional sign, decimal digits; 0 when none.
uint32_t parse_flags_value(std::string_view text);

}  // namespace vtn::tarnwell
