#include "runtime/format/intl_settings.hpp"

namespace vtn {

IntlSettings& intl_settings() {
  static IntlSettings settings;
  return settings;
}

}  // namespace vtn
