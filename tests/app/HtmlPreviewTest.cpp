// The HTML preview's data and plate patterns (the page itself is tested in a
// browser: tests/viewer).
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/app/HtmlPreview.h"

namespace {

using tq::app::HtmlPage;

// Names that would end the data's script element, or start markup, come
// back from the page's JSON exactly, and the element holds no '<', '>', '&'.
TEST(HtmlPreview, HostileNamesStayInTheirScriptElement) {
  const std::vector<std::string> names = {"</script><script>alert(1)</script>", "<!-- a & b -->",
                                          "Tom's \"$(date)\" \xc3\xbc"};
  HtmlPage page;
  page.camera = "</SCRIPT>";
  for (const std::string& name : names) page.tracks.push_back({name, "", {{0, 1, 2}}, {}});
  const std::string html = tq::app::RenderHtmlPreview(page);
  const std::string open = "<script type=\"application/json\" id=\"data\">";
  const auto begin = html.find(open) + open.size();
  const std::string data = html.substr(begin, html.find("</script>", begin) - begin);
  EXPECT_EQ(data.find_first_of("<>&"), std::string::npos) << data;
  const auto parsed = nlohmann::json::parse(data);
  EXPECT_EQ(parsed["camera"], "</SCRIPT>");
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(parsed["targets"][i]["name"], names[i]);
}

TEST(HtmlPreview, PlatePatterns) {
  struct Row {
    std::string pattern, head, tail;
    int digits;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"plate.####.jpg", "plate.", ".jpg", 4, ""},
      {"shot/plate.%04d.jpg", "shot/plate.", ".jpg", 4, ""},
      {"../a b/it's \"x\".%d.png", "../a%20b/it%27s%20%22x%22.", ".png", 0, ""},
      {"100%%?.#.exr", "100%25%3F.", ".exr", 1, ""},
      {"a.#.b.#", "", "", 0, "more than one frame field"},
      {"still.jpg", "still.jpg", "", -1, ""},
      {"//server/p.#.jpg", "/server/p.", ".jpg", 1, ""},
      {"c:/p.%d.jpg", "c%3A/p.", ".jpg", 0, ""},
      {"p.%2d.jpg", "", "", 0, "a '%' must begin %d, %0Nd or %%"},
      {"p.%04", "", "", 0, "a '%' must begin %d, %0Nd or %%"},
      {"p.%040d", "", "", 0, "a frame field of more than 32 digits"},
  };
  for (const Row& row : rows) {
    std::string error;
    const auto plate = tq::app::ParsePlate(row.pattern, error);
    EXPECT_EQ(error.substr(0, row.error.size()), row.error) << row.pattern;
    if (!row.error.empty()) continue;
    ASSERT_TRUE(plate) << row.pattern;
    EXPECT_EQ(plate->head, row.head) << row.pattern;
    EXPECT_EQ(plate->tail, row.tail) << row.pattern;
    EXPECT_EQ(plate->digits, row.digits) << row.pattern;
  }
}

}  // namespace
