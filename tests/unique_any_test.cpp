// The ownership template both platforms alias: what is closed, when, and
// how often, for a kind whose empty value is a pointer made of -1 as
// Windows' INVALID_HANDLE_VALUE is.
#include "platform/unique_any.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vk {
namespace {

std::vector<int*> closed;

void closeSlot(int* p) noexcept {
  closed.push_back(p);
}

using unique_slot = unique_any<int*, closeSlot, std::intptr_t{-1}>;

int* const kNone = reinterpret_cast<int*>(std::intptr_t{-1});

class UniqueAny : public ::testing::Test {
protected:
  void SetUp() override { closed.clear(); }
  int a = 0, b = 0;
};

TEST_F(UniqueAny, TheInvalidValueHoldsNothingAndIsNeverClosed) {
  {
    unique_slot empty;
    EXPECT_EQ(empty.get(), kNone);
    EXPECT_FALSE(empty);
    unique_slot failed(kNone);
    EXPECT_FALSE(failed);
    unique_slot null(nullptr); // not the empty value of this kind
    EXPECT_TRUE(null);
    (void)null.release();
  }
  EXPECT_TRUE(closed.empty());
}

TEST_F(UniqueAny, EachValueIsClosedOnceByWhoeverOwnsItLast) {
  {
    unique_slot first(&a);
    unique_slot second(std::move(first));
    EXPECT_FALSE(first);
    unique_slot third(&b);
    third = std::move(second); // b goes now
    EXPECT_EQ(closed, std::vector<int*>{&b});
    EXPECT_EQ(third.get(), &a);
  }
  EXPECT_EQ(closed, (std::vector<int*>{&b, &a}));
}

TEST_F(UniqueAny, ReleaseResetAndPut) {
  unique_slot s(&a);
  EXPECT_EQ(s.release(), &a);
  EXPECT_FALSE(s);
  s.reset(&b);
  s.reset();
  EXPECT_EQ(closed, std::vector<int*>{&b});
  s.reset(&a);
  int** slot = s.put(); // frees what it held before handing out the slot
  EXPECT_EQ(closed, (std::vector<int*>{&b, &a}));
  EXPECT_EQ(*slot, kNone);
  *slot = &b;
  EXPECT_EQ(s.get(), &b);
}

TEST(ScopeExit, RunsOnceWhenItGoesUnlessReleased) {
  int runs = 0;
  {
    auto counted = scope_exit([&]() noexcept { ++runs; });
    auto moved = std::move(counted);
  }
  EXPECT_EQ(runs, 1);
  {
    auto dismissed = scope_exit([&]() noexcept { ++runs; });
    dismissed.release();
  }
  EXPECT_EQ(runs, 1);
  auto early = scope_exit([&]() noexcept { ++runs; });
  early.reset();
  early.reset();
  EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace vk
