#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/fileio/Storage.h"
#include "math/String.h"

namespace {

std::vector<std::string> events;
bool failAlloc = false;

void* LoggingAlloc(unsigned long n) {
  events.push_back("alloc " + std::to_string(n));
  return failAlloc ? nullptr : std::malloc(n);
}
void LoggingFree(void*) {
  events.push_back("free");
}

class StringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    failAlloc = false;
    alloc_ = tq::fileio::SetAllocStringHook(LoggingAlloc);
    free_ = tq::fileio::SetFreeStringHook(LoggingFree);
  }
  void TearDown() override {
    tq::fileio::SetAllocStringHook(alloc_);
    tq::fileio::SetFreeStringHook(free_);
  }
  tq::fileio::AllocHook alloc_ = nullptr;
  tq::fileio::FreeHook free_ = nullptr;
};

TEST_F(StringTest, NullAndEmpty) {
  String fromNull(static_cast<const char*>(nullptr));
  EXPECT_EQ(fromNull.buffer, nullptr);
  String empty("");
  ASSERT_NE(empty.buffer, nullptr);
  EXPECT_EQ(empty.buffer[0], '\0');
  EXPECT_EQ(events, std::vector<std::string>{"alloc 1"});
  empty = static_cast<const char*>(nullptr);
  EXPECT_EQ(empty.buffer, nullptr);
}

TEST_F(StringTest, AssignmentReleasesOldBufferFirst) {
  String s("abc");
  events.clear();
  s = "longer text";
  EXPECT_EQ((std::vector<std::string>{"free", "alloc 12"}), events);
  EXPECT_STREQ(s.Get(), "longer text");
}

TEST_F(StringTest, FailedAllocationGivesNoText) {
  failAlloc = true;
  String s("abc");
  EXPECT_EQ(s.buffer, nullptr);
  EXPECT_STREQ(s.Get(), "");
}

TEST_F(StringTest, DeepCopyAndFind) {
  String a("Camera1.OutputOptions.Resolution.Width");
  String b;
  b = a;
  EXPECT_NE(a.buffer, b.buffer);
  EXPECT_STREQ(b.Get(), a.Get());
  EXPECT_EQ(a.Find(".OutputOptions"), 7);
  EXPECT_EQ(a.Find(".Range"), -1);
  EXPECT_EQ(a.Find(""), 0);
  String none;
  EXPECT_EQ(none.Find("x"), -1);
  const String copy(a);
  EXPECT_STREQ(copy.Get(), a.Get());
  b = b;  // self-assignment keeps the text
  EXPECT_STREQ(b.Get(), a.Get());
}

}  // namespace
