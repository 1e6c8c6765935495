#include "runtime/values/vtnarray.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <vector>

#include "values/scratch_directory.hpp"

namespace vtn {
namespace {

VTNARRAY::Entry entry(uintptr_t n) {
  return reinterpret_cast<VTNARRAY::Entry>(n);
}

std::vector<uintptr_t> contents(const VTNARRAY& a) {
  std::vector<uintptr_t> out;
  for (const VTNARRAY::Entry e : a) out.push_back(reinterpret_cast<uintptr_t>(e));
  return out;
}

TEST(VtnArrayTest, GrowsThroughTheCapacityClasses) {
  VTNARRAY a;
  EXPECT_EQ(a.capacity(), 0u);
  // The capacity after each append, while it changes.
  std::vector<std::pair<uint32_t, uint32_t>> steps;  // count at which the class changed, capacity
  for (uint32_t n = 1; n <= 20000; ++n) {
    const uint32_t before = a.capacity();
    a.append(entry(n));
    if (a.capacity() != before) steps.emplace_back(n, a.capacity());
  }
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {1, 2},       {3, 4},       {5, 8},        {9, 16},       {17, 32},
      {33, 64},     {65, 128},    {129, 256},    {257, 1024},   {1025, 2048},
      {2049, 4096}, {4097, 8192}, {8193, 16000}, {16001, 32000}};
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(a.count(), 20000u);
  EXPECT_EQ(a.size_class(), 14);
  for (uint32_t i = 0; i < a.count(); ++i) ASSERT_EQ(a[i], entry(i + 1));
}

TEST(VtnArrayTest, ShrinksOneClassAtTheThreshold) {
  const struct {
    uint32_t fill;        // entries appended first
    uint32_t full_class;  // the class they need
    uint32_t shrinks_at;  // the count before the removal that steps down
  } cases[] = {{100, 7, 48}, {200, 8, 96}, {1000, 9, 192}, {2000, 10, 640}, {15000, 13, 6144}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fill);
    VTNARRAY a;
    for (uint32_t n = 0; n < c.fill; ++n) a.append(entry(n));
    ASSERT_EQ(a.size_class(), c.full_class);
    while (a.count() > c.shrinks_at + 1) {
      a.remove(a.count() - 1);
      ASSERT_EQ(a.size_class(), c.full_class) << "count " << a.count();
    }
    a.remove(a.count() - 1);  // count before the removal: shrinks_at + 1
    EXPECT_EQ(a.size_class(), c.full_class);
    a.remove(a.count() - 1);  // count before the removal: shrinks_at
    EXPECT_EQ(a.size_class(), c.full_class - 1);
    EXPECT_EQ(a.count(), c.shrinks_at - 1);
    for (uint32_t i = 0; i < a.count(); ++i) ASSERT_EQ(a[i], entry(i));
  }
}

TEST(VtnArrayTest, SmallClassesNeverShrink) {
  VTNARRAY a;
  for (uint32_t n = 0; n < 64; ++n) a.append(entry(n));
  ASSERT_EQ(a.capacity(), 64u);
  while (a.count() > 0) a.remove(0);
  EXPECT_EQ(a.capacity(), 64u);
  a.clear();
  EXPECT_EQ(a.capacity(), 0u);
  EXPECT_EQ(a.count(), 0u);
}

TEST(VtnArrayTest, InsertAndRemoveKeepTheOrder) {
  VTNARRAY a;
  for (uintptr_t n : {1, 2, 3}) a.append(entry(n));
  a.insert(0, entry(10));
  a.insert(2, entry(20));
  a.insert(a.count(), entry(30));  // at the end: an append
  EXPECT_EQ(contents(a), (std::vector<uintptr_t>{10, 1, 20, 2, 3, 30}));
  a.remove(1);
  a.remove(a.count() - 1);
  a.remove(0);
  EXPECT_EQ(contents(a), (std::vector<uintptr_t>{20, 2, 3}));
  // Growing by insertion moves the entries into the larger block.
  for (uintptr_t n = 0; n < 10; ++n) a.insert(1, entry(100 + n));
  EXPECT_EQ(a.count(), 13u);
  EXPECT_EQ(a.capacity(), 16u);
  EXPECT_EQ(a[0], entry(20));
  EXPECT_EQ(a[1], entry(109));
  EXPECT_EQ(a[10], entry(100));
  EXPECT_EQ(a[12], entry(3));
}

TEST(VtnArrayTest, MovingHandsOverTheEntries) {
  VTNARRAY a;
  for (uintptr_t n = 0; n < 5; ++n) a.append(entry(n));
  VTNARRAY b(std::move(a));
  EXPECT_EQ(b.count(), 5u);
  EXPECT_EQ(a.count(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is empty
  a = std::move(b);
  EXPECT_EQ(contents(a), (std::vector<uintptr_t>{0, 1, 2, 3, 4}));
}

TEST(VtnArrayDeathTest, IndexOutsideTheArrayIsFatal) {
  EXPECT_EXIT(
      {
        VTNARRAY a;
        a.append(entry(1));
        a.insert(2, entry(2));
      },
      ::testing::ExitedWithCode(2), "Runtime error: Index out of range");
  EXPECT_EXIT(
      {
        VTNARRAY a;
        a.remove(0);
      },
      ::testing::ExitedWithCode(2), "Runtime error: Index out of range");
}

#if defined(__SANITIZE_ADDRESS__)
#define VTN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VTN_ADDRESS_SANITIZER 1
#endif
#endif

TEST(VtnArrayDeathTest, OutOfMemoryIsReported) {
#ifdef VTN_ADDRESS_SANITIZER
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
  EXPECT_EXIT(
      {
        // Leave the child 256 MiB of address space more than it has: the array runs out of it
        // on its way to 100 million entries.
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
          if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
          std::fclose(f);
        }
        limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (256u << 20);
        setrlimit(RLIMIT_AS, &limit);
        VTNARRAY a;
        for (uint32_t n = 0; n < 100000000; ++n) a.append(entry(n));
      },
      ::testing::ExitedWithCode(2),
      "Runtime error: Internal error 01 : Out of memory in VTNARRAY!");
#endif
}

}  // namespace
}  // namespace vtn
