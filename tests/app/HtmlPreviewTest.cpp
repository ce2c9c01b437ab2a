// The HTML preview's data and plate patterns (the page itself is tested in a
// browser: tests/viewer).
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/app/HtmlPreview.h"

namespace {

using nlohmann::json;

// Names that would end the data's script element or start markup come back
// from the page's JSON exactly, and the element holds no '<', '>' or '&'.
// Values at either end of the 32-bit range could not be projected; a frame
// behind the camera that is also saturated counts once.
TEST(HtmlPreview, HostileNamesAndMarkedFrames) {
  const std::string name = "</script><script>alert(1)</script> <!-- & Tom's \"$(date)\" \xc3\xbc";
  tq::app::HtmlPage page;
  page.camera = "</SCRIPT>";
  page.tracks.push_back({name,
                         "",
                         {{0, 0, 1, 2},
                          {1, 0, 3, 4},
                          {2, 0, -2147483648L, -2147483648L},
                          {3, 0, 2147483647L, 5},
                          {4, 0, 6, -7}},
                         {false, true, true}});
  // Bytes that are not UTF-8 (a stray byte, a surrogate) show as U+FFFD.
  page.tracks.push_back({"a\xff\x01\xed\xa0\x80", "group \"R\"", {}, {}});
  const std::string html = tq::app::RenderHtmlPreview(page);
  const std::string open = "<script type=\"application/json\" id=\"data\">";
  const auto begin = html.find(open) + open.size();
  const std::string text = html.substr(begin, html.find("</script>", begin) - begin);
  EXPECT_EQ(text.find_first_of("<>&"), std::string::npos) << text;
  const json data = json::parse(text), target = data["targets"][0];
  EXPECT_EQ(data["camera"], "</SCRIPT>");
  EXPECT_EQ(target["name"], name);
  EXPECT_EQ(target["unprojected"], json({2, 3}));
  EXPECT_EQ(target["behind"], json({1}));
  EXPECT_EQ(target["x"], json({1, 3, -2147483648L, 2147483647L, 6}));
  EXPECT_EQ(target["y"], json({2, 4, -2147483648L, 5, -7}));
  const std::string bad = "\xef\xbf\xbd";
  EXPECT_EQ(data["targets"][1]["name"], "a" + bad + "\x01" + bad + bad + bad);
  EXPECT_EQ(data["targets"][1]["mode"], "group \"R\"");
  EXPECT_EQ(data["targets"][1]["x"], json::array());
}

// Short of memory while a page is made (a limit on address space a little
// above what the process has), making it fails with std::bad_alloc and
// nothing else: what was made is freed without taking memory of its own.
TEST(HtmlPreview, ShortOfMemoryThePageFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps its own allocator and ends the process on failure";
#else
  tq::app::HtmlPage page;
  for (int t = 0; t < 200; ++t) {
    tq::app::HtmlTrack track{std::string("T").append(std::to_string(t)), "", {}, {}};
    for (int i = 0; i < 2000; ++i) track.points.push_back({i, 0, 100000L + i, -100000L - i});
    page.tracks.push_back(std::move(track));
  }
  // The page made with mib MiB of address space more than the process has.
  const auto make = [&page](long mib) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t cap = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + (mib << 20));
    const rlimit limit{cap, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    try {
      tq::app::RenderHtmlPreview(page);
    } catch (const std::bad_alloc&) {
    }
    std::exit(0);
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const long mib : {1, 3, 8, 20})
    EXPECT_EXIT(make(mib), testing::ExitedWithCode(0), "") << mib << " MiB";
#endif
}

// A pattern as head|tail|digits (-1: a still), or why it is refused.
TEST(HtmlPreview, PlatePatterns) {
  const std::string percent = "a '%' must begin %d, %0Nd or %% (write '%%' for a '%' of the name)";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"plate.####.jpg", "plate.|.jpg|4"},
      {"shot/plate.%04d.jpg", "shot/plate.|.jpg|4"},
      {"../a b/it's \"x\".%d.png", "../a%20b/it%27s%20%22x%22.|.png|0"},
      {"100%%?.#.exr", "100%25%3F.|.exr|1"},
      {"still.jpg", "still.jpg||-1"},
      {"//server/p.#.jpg", "/server/p.|.jpg|1"},
      {"c:/p.%d.jpg", "c%3A/p.|.jpg|0"},
      {"a.#.b.#", "more than one frame field (#### or %04d)"},
      {"p.%2d.jpg", percent},
      {"p.%04", percent},
      {"p.%040d", "a frame field of more than 32 digits"},
  };
  for (const auto& [pattern, expected] : rows) {
    const auto p = tq::app::ParsePlate(pattern);
    EXPECT_EQ(p ? p->head + "|" + p->tail + "|" + std::to_string(p->digits) : p.error, expected)
        << pattern;
  }
}

}  // namespace
