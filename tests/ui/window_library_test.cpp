#include "runtime/ui/window_library.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vtn {
namespace {

TEST(WindowLibrary, KeyAliases) {
  clear_key_aliases();
  struct Step {
    uint32_t pressed, delivered;
  };
  for (const Step& s : {Step{0x22D, 0x243}, Step{0x12D, 0x256}, Step{0x12D, 0x258},
                        Step{0x12E, 0x12E}, Step{0x22D, 0x22D}}) {
    KEYALIAS(s.pressed, s.delivered);
  }
  // The second alias of Shift+Insert replaced the first; aliasing a key to itself removed
  // Ctrl+Insert's alias and added nothing for Shift+Delete.
  ASSERT_EQ(key_aliases().size(), 1u);
  EXPECT_EQ(aliased_key(0x12D), 0x258u);
  EXPECT_EQ(aliased_key(0x22D), 0x22Du);
  EXPECT_EQ(aliased_key(0x12E), 0x12Eu);
  EXPECT_EQ(aliased_key(0x41), 0x41u);
  clear_key_aliases();
  EXPECT_TRUE(key_aliases().empty());
}

TEST(WindowLibrary, FontCharacterSet) {
  EXPECT_FALSE(global_property(0x1234).has_value());
  EXPECT_EQ(font_char_set(), kAnsiCharSet);
  set_global_property(kPropFontCharSet, kCyrillicCharSet);
  EXPECT_EQ(font_char_set(), 204);
}

std::string closed;
void close_window(void* window) {
  closed += *static_cast<const char*>(window);
}
void release_one() {
  closed += "1";
}
void release_two() {
  closed += "2";
}

TEST(WindowLibrary, CleanupClosesOpenWindowsThenReleasesResources) {
  static char a = 'a', b = 'b', c = 'c';
  closed.clear();
  register_open_window(&a, close_window);
  register_open_window(&b, close_window);
  register_open_window(&c, close_window);
  unregister_open_window(&b);  // closed by the program itself
  register_window_resource(release_one);
  register_window_resource(release_two);
  window_library_cleanup();
  EXPECT_EQ(closed, "ca21");
  window_library_cleanup();  // nothing left
  EXPECT_EQ(closed, "ca21");
}

}  // namespace
}  // namespace vtn
