#include "runtime/core/version_check.hpp"

#include <cstdio>

#include "runtime/core/process_exit.hpp"
#include "runtime/ui/message_box.hpp"

namespace vtn {
namespace {

VersionNumbers& stored_request() {
  static VersionNumbers v;
  return v;
}

}  // namespace

bool runtime_version_accepts(VersionNumbers wanted) {
  return wanted.major == kRequiredMajor && wanted.minor <= kRuntimeVersion.minor;
}

std::string version_mismatch_text(VersionNumbers wanted) {
  char text[256];
  std::snprintf(text, sizeof text,
                "This program or a component DLL requires V5RUN%s version %d.%03d.%02d or later"
                "\r\nThis version is %d.%03d.%02d",
                "X", static_cast<int>(wanted.major & 0xF), static_cast<int>(wanted.minor),
                static_cast<int>(wanted.build), static_cast<int>(kRuntimeVersion.major),
                static_cast<int>(kRuntimeVersion.minor), static_cast<int>(kRuntimeVersion.build));
  return text;
}

void check_runtime_version(VersionNumbers wanted) {
  if (runtime_version_accepts(wanted)) {
    stored_request() = wanted;
    return;
  }
  plain_message_box(version_mismatch_text(wanted), kVersionCaption, kButtonOk, kButtonOk,
                    IconSpec::system(kIconHand));
  process_exit(0);
}

VersionNumbers requested_version() {
  return stored_request();
}

}  // namespace vtn
