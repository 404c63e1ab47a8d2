// The cost of properties added by name as their number grows (a web request may add many
// thousands), counted in the allocations the process makes: this program replaces the
// global operator new to count them. Adding or finding a name must cost the same however
// many were added before it; a walk over all earlier names, folding a copy of each to compare
// it, makes a number of allocations that grows with the square of the count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "fake_ctlstore.h"
#include "flowcore.h"

namespace {

std::atomic<uint64_t> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
// Every form that could pair with the ones above is replaced too, so that no block crosses
// between this allocator and the sanitizer's.
void* operator new[](std::size_t size) {
  return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

TWStream NativeText(std::string& text) {
  return TWStream{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()), text.data()};
}

// The allocations made while a fresh activity adds count properties of distinct names (longer
// than a string holds without allocating), then finds each again by its name in upper case.
uint64_t AllocationsToAddAndFind(int count) {
  std::vector<std::string> names, upper;
  for (int i = 0; i < count; ++i) {
    names.push_back("request-property-" + std::to_string(i));
    upper.push_back("REQUEST-PROPERTY-" + std::to_string(i));
  }
  std::vector<uint32_t> tokens(names.size());
  EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  const uint64_t before = gAllocations.load();
  for (size_t i = 0; i < names.size(); ++i) {
    TWStream name = NativeText(names[i]);
    EXPECT_EQ(TWActivityAddProperty(&name, TWPROPSTORE_DYNAMIC, &tokens[i]), TWSUCCESS);
  }
  for (size_t i = 0; i < upper.size(); ++i) {
    TWStream name = NativeText(upper[i]);
    uint32_t token = 0;
    EXPECT_EQ(TWActivityAddProperty(&name, TWPROPSTORE_DYNAMIC, &token), TWSUCCESS);
    EXPECT_EQ(token, tokens[i]) << upper[i];
  }
  const uint64_t made = gAllocations.load() - before;
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);
  return made;
}

TEST(ActivityGrowthTest, TwiceAsManyNamesCostAboutTwiceAsMuch) {
  twtest::Installation inst;
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  const uint64_t once = AllocationsToAddAndFind(3000);
  const uint64_t twice = AllocationsToAddAndFind(6000);
  EXPECT_GT(once, 0u);
  EXPECT_LE(static_cast<double>(twice) / static_cast<double>(once), 2.2)
      << once << " then " << twice;
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

}  // namespace
