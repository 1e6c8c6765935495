#include "runtime/core/module_init.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vtn {
namespace {

std::vector<std::string> calls;

template <char Name>
void routine(int32_t phase) {
  calls.push_back(std::string(1, Name) + (phase == kModuleStarting ? "+" : "-"));
}

// Priorities out of order, equal levels, and levels that are never called at start-up (0, -1,
// 300) or at termination (-1, 300).
constexpr ModuleInitEntry kTable[] = {
    {16, routine<'a'>, routine<'a'>}, {255, routine<'b'>, routine<'b'>},
    {5, routine<'c'>, routine<'c'>},  {16, routine<'d'>, routine<'d'>},
    {0, routine<'e'>, routine<'e'>},  {300, routine<'f'>, routine<'f'>},
    {-1, routine<'g'>, routine<'g'>}, {150, routine<'h'>, routine<'h'>},
    {5, routine<'i'>, routine<'i'>},  {150, routine<'j'>, nullptr},
};

TEST(ModuleInit, StartupByDescendingPriorityInTableOrder) {
  calls.clear();
  run_module_startup(kTable);
  EXPECT_EQ(calls, (std::vector<std::string>{"b+", "h+", "j+", "a+", "d+", "c+", "i+"}));
}

TEST(ModuleInit, TerminationByAscendingPriorityLastEntryFirst) {
  calls.clear();
  run_module_termination(kTable);
  EXPECT_EQ(calls, (std::vector<std::string>{"e-", "i-", "c-", "d-", "a-", "h-", "b-"}));
}

TEST(ModuleInit, WalksWithoutTheTopOrBottomLevels) {
  // No 255 entry: the walk still starts there and finds the next level down.
  constexpr ModuleInitEntry only_low[] = {{1, routine<'x'>, routine<'x'>},
                                          {7, routine<'y'>, routine<'y'>}};
  calls.clear();
  run_module_startup(only_low);
  run_module_termination(only_low);
  EXPECT_EQ(calls, (std::vector<std::string>{"y+", "x+", "x-", "y-"}));

  calls.clear();
  run_module_startup({});
  run_module_termination({});
  EXPECT_TRUE(calls.empty());
}

TEST(ModuleInit, ModuleChain) {
  static const ModuleDescriptor first{reinterpret_cast<InstanceHandle>(0x1000), kTable};
  static const ModuleDescriptor second{reinterpret_cast<InstanceHandle>(0x2000), {}};
  ModuleChainNode* a = register_module(first);
  ModuleChainNode* b = register_module(second);
  EXPECT_EQ(module_chain(), b);
  EXPECT_EQ(b->previous, a);
  EXPECT_EQ(b->module, &second);
  EXPECT_EQ(a->instance, first.instance);
  // The first module registered in the process is the process instance.
  EXPECT_EQ(process_instance(), first.instance);

  unregister_module(first);
  ASSERT_EQ(module_chain(), b);
  EXPECT_EQ(module_chain()->previous, nullptr);
  unregister_module(first);  // unknown now: ignored
  unregister_module(second);
  EXPECT_EQ(module_chain(), nullptr);
  EXPECT_EQ(process_instance(), first.instance);
}

}  // namespace
}  // namespace vtn
