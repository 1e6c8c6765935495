#include "app/open_with_recovery.hpp"

#include "app/warnings.hpp"
#include "runtime/core/halt.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace ferrule {
namespace {

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kAlreadyLocked = 32;
constexpr int32_t kKeysMustBeRebuilt = 46;
constexpr int32_t kInvalidDeclaration = 47;
constexpr int32_t kAlreadyOpen = 52;

constexpr uint8_t kReadWriteDenyNone = 0x42;

// A request to release a stale lock. Neither of the program's drivers knows it: both reply with
// an empty text and change nothing, and the reply is not looked at.
constexpr std::string_view kRecoverRequest = "Recover=10";

// NAME(file) leaves the name where WarnAboutFile takes it from.
int32_t warn_about(vtn::FileBlock& file, int32_t warning) {
  vtn::string_stack().push_copy(vtn::NAME(file));
  return WarnAboutFile(warning);
}

}  // namespace

void OpenWithRecovery(vtn::FileBlock& file, bool create_if_missing, bool do_not_create,
                      uint8_t access, bool shared) {
  const uint32_t mode = shared ? kReadWriteDenyNone : access;

  // Returns true when the file is open; a failure ends the program in its warning.
  auto create_then_open = [&]() -> bool {
    vtn::CREATE(file);
    if (vtn::ERRORNUMBER() != 0) warn_about(file, 4);
    vtn::OPEN(file, mode);
    if (vtn::ERRORNUMBER() == 0) return true;
    warn_about(file, 5);
    return false;
  };

  vtn::OPEN(file, mode);
  if (vtn::ERRORNUMBER() == kAlreadyLocked) {
    (void)vtn::SEND(file, kRecoverRequest);
    vtn::OPEN(file, mode);
  }

  switch (vtn::ERRORNUMBER()) {
    case 0:
    case kAlreadyOpen:
      return;
    case kFileNotFound:
      if (do_not_create) break;
      if (create_if_missing) {
        if (create_then_open()) return;
      } else {
        warn_about(file, 4);
      }
      break;
    case kInvalidDeclaration:
      warn_about(file, 1);
      break;
    case kKeysMustBeRebuilt:
      warn_about(file, 2);  // returns only when the person chose to rebuild
      vtn::BUILD(file);
      if (vtn::ERRORNUMBER() != 0) {
        warn_about(file, 3);
      } else {
        vtn::OPEN(file, mode);
      }
      break;
    default:
      break;
  }

  if (vtn::ERRORNUMBER() != 0) {
    if (warn_about(file, 30) != 0) vtn::HALT(0, "Disk Error");
  }
}

}  // namespace ferrule
