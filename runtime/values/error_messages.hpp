// Error codes and their texts: the run-time's message table, the override list that the locale
// settings fill (VTNMSG<n>, button captions 7F00h + i), and the lookup that combines them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vtn {

// The built-in text of `code`, or an empty view when the table has none.
std::string_view message_table_text(int32_t code);

// Adds an override for `number`, or replaces the text of the one already present (the old text is
// freed). Texts are cut at 255 characters. New numbers go to the head of the list.
void set_message_override(int32_t number, std::string_view text);

// The override text of `number`, if any. Valid until the next change of that override.
std::optional<std::string_view> find_message_override(int32_t number);

// Empties the override list (start-up state).
void clear_message_overrides();

// The message for `code`: code 0 reads as 81; the override first, then the table, else the text
// of 81, " : " and the code. The text lives in the calling thread's 256-byte message buffer and is
// valid until that thread's next lookup.
const char* error_message(int32_t code);

}  // namespace vtn
