#include "host/scene/NameSet.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tq::scene::LaggingNameCheck;

// The index of the first name that repeats an earlier one, found the way the
// loader finds it: each name added as read, the rest flushed at the end.
std::optional<std::size_t> FirstRepeat(const std::vector<std::string>& names) {
  LaggingNameCheck check(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const auto repeat = check.Add({names[i], i, names[i].data()})) return repeat->index;
  }
  if (const auto repeat = check.Flush()) return repeat->index;
  return std::nullopt;
}

// n distinct names "n0", "n1", ...
std::vector<std::string> Distinct(std::size_t n) {
  std::vector<std::string> names;
  // Appended, not "n" + ...: GCC 12 at -O3 warns of a false overlap there.
  for (std::size_t i = 0; i < n; ++i) names.push_back(std::string("n").append(std::to_string(i)));
  return names;
}

TEST(LaggingNameCheck, FindsTheFirstRepeatInReadingOrder) {
  const std::size_t ahead = LaggingNameCheck::kAhead;
  auto with = [](std::vector<std::string> names, std::size_t at, std::size_t of) {
    names[at] = names[of];
    return names;
  };
  struct Row {
    const char* label;
    std::vector<std::string> names;
    std::optional<std::size_t> repeat;
  };
  const Row rows[] = {
      {"none", {}, std::nullopt},
      {"one name", {"a"}, std::nullopt},
      {"distinct, fewer than the lag", Distinct(ahead - 1), std::nullopt},
      {"distinct, many (the set grows)", Distinct(5000), std::nullopt},
      {"next to each other", {"a", "b", "b"}, 2},
      {"found only when flushed", with(Distinct(3), 2, 0), 2},
      {"exactly the lag apart", with(Distinct(2 * ahead), ahead, 0), ahead},
      {"found while adding", with(Distinct(3 * ahead), 2 * ahead, 1), 2 * ahead},
      {"two repeats: the earlier wins", with(with(Distinct(40), 30, 2), 12, 11), 12},
      {"the last of many", with(Distinct(5000), 4999, 17), 4999},
      {"empty names count", {"", "x", ""}, 2},
  };
  for (const Row& r : rows) {
    const auto repeat = FirstRepeat(r.names);
    EXPECT_EQ(repeat, r.repeat) << r.label;
  }
}

TEST(LaggingNameCheck, ARepeatCarriesWhereItWasRead) {
  const std::string text = "a b a";
  LaggingNameCheck check(3);
  EXPECT_FALSE(check.Add({std::string_view(text).substr(0, 1), 0, text.data()}));
  EXPECT_FALSE(check.Add({std::string_view(text).substr(2, 1), 1, text.data() + 2}));
  EXPECT_FALSE(check.Add({std::string_view(text).substr(4, 1), 2, text.data() + 4}));
  const auto repeat = check.Flush();
  ASSERT_TRUE(repeat);
  EXPECT_EQ(repeat->index, 2u);
  EXPECT_EQ(repeat->where, text.data() + 4);
  EXPECT_EQ(repeat->name, "a");
}

TEST(LaggingNameCheck, ANameNotAddedIsCheckedAgainstThoseFlushed) {
  LaggingNameCheck check(4);
  for (const char* name : {"a", "b", "c"}) EXPECT_FALSE(check.Add({name, 0, nullptr}));
  EXPECT_FALSE(check.Flush());
  EXPECT_TRUE(check.Repeats("b"));
  EXPECT_FALSE(check.Repeats("d"));
}

}  // namespace
