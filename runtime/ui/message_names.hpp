// Names of message codes for diagnostic output: the window messages of the platform (older and
// internal ones included, and the run-time's own WM_VBXEVENT), the dynamic-data-exchange
// messages, and the run-time's event and query codes.
//
// The names live in one list of 259 pairs, in this order: the nine DDE messages, the 63 events,
// the 16 queries, then the 171 window messages by code. A lookup takes the first pair with the
// code; a code without a name is written "%#.4x" (07FFh gives "0x07ff").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vtn {

struct MessageName {
  uint32_t code;
  std::string_view name;
};

// The whole list, in lookup order.
std::span<const MessageName> message_name_table();

// The name of `code`, or the code in hex.
std::string message_name(uint32_t code);

}  // namespace vtn
