#include "runtime/ui/message_dialog.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/string_stack.hpp"
#include "support/message_box_fixture.hpp"

namespace vtn {
namespace {

class MessageDialogTest : public testing_support::StderrMessageBoxTest {
 protected:
  static void answer(const char* answers) {
    setenv("VTN_MSGBOX_ANSWERS", answers, 1);
    reset_preset_answers();
  }
};

std::vector<std::string> captions(const std::vector<DialogButton>& rows) {
  std::vector<std::string> out;
  for (const DialogButton& r : rows) out.push_back(r.caption);
  return out;
}

TEST_F(MessageDialogTest, StandardButtonSetsAndDefaults) {
  struct Case {
    const char* buttons;
    uint32_t default_value;
    std::vector<std::string> shown;
    size_t default_index;
  };
  const Case cases[] = {
      {"6", 4, {"&Yes", "&No"}, 1},  // No named as default
      {"6", 2, {"&Yes", "&No"}, 0},
      {"", 0, {"OK"}, 0},            // empty text: set 0, which shows OK
      {"0", 0, {"OK"}, 0},           // 0 counts as OK
      {"3", 64, {"OK", "&Yes"}, 0},  // a default naming no shown button: the first shown
      {"6", 6, {"&Yes", "&No"}, 1},  // both named: the last in table order
      {"255", 128, {"OK", "&Yes", "&No", "&Abort", "&Retry", "&Ignore", "Cancel", "&Help"}, 7},
      {"80", 64, {"&Retry", "Cancel"}, 1},  // table order, not value order
      {"256", 0, {"OK"}, 0},         // a set naming no button still gives a box one can close
      {"4294967296", 0, {"OK"}, 0},  // likewise a number beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttons);
    const DialogModel m =
        build_message_dialog("text", "caption", "", c.buttons, c.default_value, 0);
    EXPECT_FALSE(m.custom);
    EXPECT_EQ(captions(m.shown_buttons()), c.shown);
    EXPECT_EQ(m.default_index(), c.default_index);
  }
}

TEST_F(MessageDialogTest, StandardResultIsTheValueOfAShownButton) {
  const DialogModel m = build_message_dialog("t", "c", "", "6", 4, 0);
  EXPECT_EQ(message_dialog_result(m, m.result_for(6)), 2);  // Yes pressed
  EXPECT_EQ(message_dialog_result(m, m.result_for(7)), 4);  // No pressed
  EXPECT_EQ(m.result_for(kIdCancel), 0u);                   // Cancel is not in the box
  EXPECT_EQ(m.result_for(1), 0u);
}

TEST_F(MessageDialogTest, CustomButtons) {
  struct Case {
    std::string buttons;
    uint32_t default_number;
    std::vector<int32_t> identifiers;
    std::vector<std::string> captions;
    size_t default_index;
  };
  const Case cases[] = {
      {"One|Two|Three", 2, {100, 101, 102}, {"One", "Two", "Three"}, 1},
      // Built-in captions (compared by collation, blank-padded) take their row's identifier.
      {"&Yes|Maybe|Cancel", 0, {6, 100, 2}, {"&Yes", "Maybe", "Cancel"}, 0},
      {"OK  |Later", 9, {1, 100}, {"OK", "Later"}, 0},
      // Without its "&" the text is no built-in caption.
      {"Yes|No", 1, {100, 101}, {"Yes", "No"}, 0},
      // A text that does not begin with a digit is one custom button.
      {"Close", 1, {100}, {"Close"}, 0},
      // "1|2": a bar makes it a list even though it begins with a digit.
      {"1|2", 2, {100, 101}, {"1", "2"}, 1},
      // At most eight buttons.
      {"a|b|c|d|e|f|g|h|i|j",
       8,
       {100, 101, 102, 103, 104, 105, 106, 107},
       {"a", "b", "c", "d", "e", "f", "g", "h"},
       7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttons);
    const DialogModel m = build_message_dialog("t", "c", "", c.buttons, c.default_number, 0);
    ASSERT_TRUE(m.custom);
    const std::vector<DialogButton> shown = m.shown_buttons();
    std::vector<int32_t> ids;
    for (const DialogButton& b : shown) ids.push_back(b.identifier);
    EXPECT_EQ(ids, c.identifiers);
    EXPECT_EQ(captions(shown), c.captions);
    EXPECT_EQ(m.default_index(), c.default_index);
    // Pressing the k-th button answers k.
    for (size_t k = 0; k < shown.size(); ++k) {
      EXPECT_EQ(message_dialog_result(m, m.result_for(shown[k].identifier)),
                static_cast<int32_t>(k + 1));
    }
  }
}

TEST_F(MessageDialogTest, OverrideCaptionsOnlyForStandardButtons) {
  set_message_override(kButtonOverrideBase + 1, u8"&Да"_ansi);
  set_message_override(kButtonOverrideBase + 2, u8"&Нет"_ansi);
  const DialogModel standard = build_message_dialog("t", "c", "", "6", 0, 0);
  EXPECT_EQ(captions(standard.shown_buttons()),
            (std::vector<std::string>{std::string(u8"&Да"_ansi), std::string(u8"&Нет"_ansi)}));
  const DialogModel custom = build_message_dialog("t", "c", "", "&Yes|&No", 0, 0);
  EXPECT_EQ(captions(custom.shown_buttons()), (std::vector<std::string>{"&Yes", "&No"}));
}

TEST_F(MessageDialogTest, TextIconAndStyle) {
  const DialogModel m = build_message_dialog("one|two||", "c", "\xFF\x01\x04\x7F", "1", 0, 1);
  EXPECT_EQ(m.text, "one\r\ntwo\r\n\r\n");
  EXPECT_EQ(m.icon, IconSpec::system(kIconExclamation));
  EXPECT_TRUE(m.system_modal);
  EXPECT_FALSE(build_message_dialog("t", "c", "", "1", 0, 0).system_modal);
}

TEST_F(MessageDialogTest, IconCodes) {
  struct Case {
    std::string text;
    IconSpec icon;
  };
  const Case cases[] = {
      {"", {}},
      {std::string("\xFF\x01\x04\x7F", 4), {IconKind::kSystem, kIconExclamation, ""}},
      {std::string("\xFF\x01\x03\x7F", 4), {IconKind::kSystem, kIconQuestion, ""}},
      {std::string("\xFF\x01\x02\x7F", 4), {IconKind::kSystem, kIconHand, ""}},
      {std::string("\xFF\x02\x0B\x00", 4), {IconKind::kResourceNumber, 10, ""}},
      {"~WARNING", {IconKind::kResourceName, 0, "WARNING"}},
      {"icons/app.ico[2]", {IconKind::kFile, 2, "icons/app.ico"}},
      {"app.ico", {IconKind::kFile, 0, "app.ico"}},
      {"odd[x]", {IconKind::kFile, 0, "odd[x]"}},
      {"odd[]", {IconKind::kFile, 0, "odd[]"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_icon_text(c.text), c.icon) << describe_icon(c.icon);
  }
}

TEST_F(MessageDialogTest, TakesItsTextsFromTheStringStack) {
  answer("2,3,9,cancel");
  StringStack& stack = string_stack();
  const int depth = stack.depth();
  ::testing::internal::CaptureStderr();
  // Yes/No with No as default; the preset answer presses Yes.
  EXPECT_EQ(MessageDialog("Continue?", "Question", "", "6", 4, 0), 2);
  // Three custom buttons; the answer presses the third.
  EXPECT_EQ(MessageDialog("Pick", "Choice", "", "A|B|C", 2, 0), 3);
  // An answer that names no button of the box takes the default (here No).
  EXPECT_EQ(MessageDialog("Continue?", "Question", "", "6", 4, 0), 4);
  // A name, in any case, for a standard button.
  EXPECT_EQ(MessageDialog("Stop?", "Question", "", "65", 1, 0), 64);
  // Answers used up: the stderr backend takes the default button.
  EXPECT_EQ(MessageDialog("Pick", "Choice", "", "A|B|C", 2, 0), 2);
  EXPECT_EQ(stack.depth(), depth);
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Choice: Pick\n  [none] A | B (default) | C -> C (preset answer)"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("the preset answer \"9\" names no button"), std::string::npos) << shown;
}

}  // namespace
}  // namespace vtn
