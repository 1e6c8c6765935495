// FORMAT of a decimal-stack value: every digit of the working value reaches the picture.
#include "runtime/format/picture_format.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {

void FORMAT_DECIMAL(std::string_view picture) {
  const NumberDigits number = decimal_stack().pop_digits();
  string_stack().push_copy(format_picture(number, picture));
}

}  // namespace vtn
