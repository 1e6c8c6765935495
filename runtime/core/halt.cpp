#include "runtime/core/halt.hpp"

#include <string>

#include "runtime/core/process_exit.hpp"
#include "runtime/ui/message_box.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {

void HALT(int32_t code) {
  const std::string message = string_stack().pop_string();
  if (!message.empty()) {
    message_box_core(message, "Halt", kButtonOk, kButtonOk, IconSpec::system(kIconHand));
  }
  run_final_hook();
  set_halting();
  process_exit(code);
}

void HALT(int32_t code, std::string_view message) {
  string_stack().push_copy(message);
  HALT(code);
}

}  // namespace vtn
