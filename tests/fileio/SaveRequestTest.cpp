#include <gtest/gtest.h>

#include "host/fileio/SaveRequest.h"

namespace {

TEST(SaveRequest, WithoutHandlerAnswersZero) {
  auto previous = tq::fileio::SetSaveRequestHandler({});
  String title("T"), filter("F"), path("keep.txt"), ext("txt");
  EXPECT_EQ(SaveRequest(title, filter, path, ext.buffer, ext.buffer, 3, nullptr, nullptr), 0);
  EXPECT_STREQ(path.Get(), "keep.txt");
  tq::fileio::SetSaveRequestHandler(previous);
}

TEST(SaveRequest, HandlerSeesEveryArgumentAndAnswers) {
  tq::fileio::SaveRequestCall seen{};
  std::string startPath;
  auto previous = tq::fileio::SetSaveRequestHandler([&](tq::fileio::SaveRequestCall& call) {
    seen = call;
    startPath = call.path->Get();
    *call.path = "/tmp/chosen.txt";
    return 1;
  });
  String title("Export"), filter("Text|*.txt||"), path("TQmotion.txt"), ext("txt");
  EXPECT_EQ(SaveRequest(title, filter, path, ext.buffer, ext.buffer, 3, nullptr, nullptr), 1);
  EXPECT_EQ(seen.title, &title);
  EXPECT_EQ(seen.filter, &filter);
  EXPECT_EQ(seen.defaultExt, ext.buffer);
  EXPECT_EQ(seen.defaultExt2, ext.buffer);
  EXPECT_EQ(seen.flags, 3u);
  EXPECT_EQ(seen.parent, nullptr);
  EXPECT_EQ(seen.extra, nullptr);
  EXPECT_EQ(startPath, "TQmotion.txt");
  EXPECT_STREQ(path.Get(), "/tmp/chosen.txt");
  tq::fileio::SetSaveRequestHandler(previous);
}

}  // namespace
