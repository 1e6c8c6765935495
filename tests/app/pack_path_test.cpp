// Which request paths the pack table stores relative to the current directory.
#include "app/pack_path.hpp"

#include <gtest/gtest.h>

namespace ferrule {
namespace {

TEST(StoredPackPath, RelativeOnlyAtOrBelowTheCurrentDirectory) {
  struct Case {
    const char* request;
    const char* current;
    std::optional<std::string> stored;
  };
  const Case cases[] = {
      {"/srv/app/packs/one", "/srv/app", "packs/one"},
      {"/srv/app/packs/one    ", "/srv/app", "packs/one"},  // the field's blanks
      {"/srv/app/packs/one", "/srv/app/", "packs/one"},
      {"/srv/app//packs", "/srv/app", "packs"},
      {"/srv/app", "/srv/app", ""},
      {"/srv/app/", "/srv/app", ""},
      // Only a whole directory name counts: the old rule cut these to "/x" and "ps/x".
      {"/srv/app2/x", "/srv/app", "/srv/app2/x"},
      {"/srv/apps/x", "/srv/app", "/srv/apps/x"},
      {"/srv", "/srv/app", "/srv"},
      // The current directory anywhere but at the start does not count.
      {"/backup/srv/app/x", "/srv/app", "/backup/srv/app/x"},
      // The root keeps the first character of what lies below it.
      {"/packs", "/", "packs"},
      {"/packs/one", "/", "packs/one"},
      {"/", "/", ""},
      // File names differ by case on this platform.
      {"/SRV/APP/x", "/srv/app", "/SRV/APP/x"},
      // Relative and Windows-style paths are stored as they came.
      {"packs/one", "/srv/app", "packs/one"},
      {"C:\\APP\\PACKS\\ONE", "/srv/app", "C:\\APP\\PACKS\\ONE"},
      {"\\\\server\\share\\pack", "/srv/app", "\\\\server\\share\\pack"},
      {"/srv/app\\x", "/srv/app", "/srv/app\\x"},
      // A blank path keeps what the buffer holds.
      {"", "/srv/app", std::nullopt},
      {"     ", "/srv/app", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.request) + " in " + c.current);
    EXPECT_EQ(stored_pack_path(c.request, c.current), c.stored);
  }
}

}  // namespace
}  // namespace ferrule
