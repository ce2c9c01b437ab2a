// tqhost export with several targets: their files, patterns and plan.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/fileio/Concat.h"
#include "tests/fileio/TempDir.h"
#include "tests/app/Tqhost.h"

namespace {

using namespace tq::tqhost_test;

// Several targets, named as strangers name them, each in a file of its own
// that the summary names: no two merge, and nothing is run or hidden; more
// than are saved together at once, one whose file name is as long as a
// folder entry may be, and one whose name is too long for a file named,
// failed and left out.
TEST(Tqhost, SeveralTargetsNeverShareAFile) {
  TempDir dir;
  std::vector<std::string> names = {"Ball 1",         "Ball_1",  "W\u00fcrfel", "W\u00e4rfel",
                                    "$(touch PWNED)", ".hidden", "-dash",       "a/b"};
  while (names.size() < 139)
    names.push_back(tq::fileio::Concat({"n", std::to_string(names.size())}));
  names.push_back(std::string(255 - 13, 'F'));  // TQmotion-F...F.txt: 255 bytes
  const std::string longName(250, 'L');
  std::string objects =
      R"(, {"type": "null", "name": ")" + longName + R"(", "translate": [0, 0, -10]})";
  for (std::size_t i = 0; i < names.size(); ++i) {
    objects += R"(, {"type": "null", "name": ")" + names[i] + R"(", "translate": [)" +
               std::to_string(i) + ", 0, -10]}";
  }
  tq::testing::WriteFile(dir / "s.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 1}})" +
                                                 objects + "]}}");
  const Result r = RunHost(dir, "export s.tqs.json --all-targets");
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "tqhost: " + longName + ": The motion data could not be written to \"TQmotion-" +
                       longName + ".txt\": File name too long. No file was written.\n");
  std::istringstream lines(r.out);
  std::size_t tracks = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find(": 2 frames written to ");
    if (at == std::string::npos) continue;
    const std::string name = line.substr(0, at), file = line.substr(at + 22);
    const auto i =
        static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    ASSERT_LT(i, names.size()) << line;
    // X = 32 - (i / -5) * 32 for the target at (i, 0, -10), on both frames.
    const long x = std::lround(32 + 6.4 * static_cast<double>(i));
    EXPECT_EQ(ReadFile(dir / file),
              "0\t" + std::to_string(x) + "\t24\n1\t" + std::to_string(x) + "\t24\n")
        << line;
    ++tracks;
  }
  EXPECT_EQ(tracks, names.size()) << r.out;
  EXPECT_NE(r.out.find("\n140 files written; failed: " + longName + "\n"), std::string::npos);
  EXPECT_EQ(dir.Count(), 143);  // the tracks, the scene, stdout and stderr
  EXPECT_TRUE(std::filesystem::exists(dir / "TQmotion-Ball 1.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "TQmotion-a_b.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "PWNED"));
  EXPECT_FALSE(std::filesystem::exists(dir / "TQmotion.txt"));
  // The same run in one process and shared by three: the same files, and
  // the same lines in the same order.
  for (const char* jobs : {"1", "3"}) {
    TempDir again;
    std::filesystem::copy_file(dir / "s.tqs.json", again / "s.tqs.json");
    const Result same =
        RunHost(again, std::string("export s.tqs.json --all-targets --jobs ") + jobs);
    EXPECT_EQ(same.status, r.status);
    EXPECT_EQ(same.out, r.out) << jobs;
    EXPECT_EQ(same.err, r.err) << jobs;
    EXPECT_EQ(again.Count(), dir.Count());
    for (const auto& file : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = file.path().filename().string();
      if (name == "stdout" || name == "stderr") continue;
      EXPECT_EQ(ReadFile(again / name), ReadFile(file.path())) << jobs << " " << name;
    }
  }
  // Descriptors named as outputs (/dev/fd/3 to /dev/fd/9, none open when
  // tqhost starts) reach no other process of the run: they fail as they do
  // in one process.
  std::string fdNames;
  for (int fd = 9; fd >= 3; --fd)  // the low ones in the second process's half
    fdNames += R"(, {"type": "null", "name": ")" + std::to_string(fd) + "\"}";
  tq::testing::WriteFile(dir / "fd.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 1}},
      {"type": "null", "name": "X"})" + fdNames + "]}}");
  const std::string fds =
      "export fd.tqs.json --all-targets -o '/dev/fd/{target}' 3>&- 4>&- 5>&- "
      "6>&- 7>&- 8>&- 9>&- --jobs ";
  const Result one = RunHost(dir, fds + "1"), two = RunHost(dir, fds + "2");
  EXPECT_EQ(two.status, one.status);
  EXPECT_EQ(two.out, one.out);
  EXPECT_EQ(two.err, one.err);
}

// A folder reached by two paths (a bind mount) is one folder: the scene
// named through the other path is refused, not replaced by the track.
TEST(Tqhost, OneFolderByTwoPathsIsOneFolder) {
  TempDir dir;
  std::filesystem::create_directory(dir / "a");
  std::filesystem::create_directory(dir / "b");
  const std::string bind = "mount --bind '" + (dir / "a") + "' '" + (dir / "b") + "' 2>/dev/null";
  if (std::system(bind.c_str()) != 0) GTEST_SKIP() << "bind mounts need root";
  std::filesystem::copy_file(kExamples + "orbit.tqs.json", dir / "a/s.json");
  const Result r = RunHost(dir, "export a/s.json --target Robot -o b/s.json");
  EXPECT_EQ(std::system(("umount '" + (dir / "b") + "'").c_str()), 0);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tqhost: -o b/s.json: that is the scene file\nTry 'tqhost export --help'.\n");
  EXPECT_EQ(ReadFile(dir / "a/s.json"), ReadFile(kExamples + "orbit.tqs.json"));
}

// Three targets of the orbit example in one command, each with a nuke copy:
// one file a target named by the pattern, one summary line each and a final
// count; every track equals the one its own command writes, and every copy
// has the track's lines as "frame x y" (the orbit starts at frame 0).
TEST(Tqhost, ThreeTargetsWithNukeCopies) {
  TempDir dir;
  const std::string orbit = "'" + kExamples + "orbit.tqs.json'";
  const std::string args = "export " + orbit +
                           " --target Robot --target Key --target Robot:group-center:Roof"
                           " -o '{target}-{mode}.txt' --also 'nuke:{target}-{mode}.nk'";
  // --plan writes nothing (the folder holds the run's stdout and stderr) and
  // names the files the run then says it wrote.
  const Result plan = RunHost(dir, args + " --plan");
  ASSERT_EQ(plan.status, 0) << plan.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  const Result r = RunHost(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string planned;
  const nlohmann::json planJson = nlohmann::json::parse(plan.out);
  for (const auto& run : planJson["runs"]) {
    const std::string target = run["target"];
    planned += target + ": 121 frames written to " + std::string(run["output"]) + "\n";
    for (const auto& copy : run["copies"]) {
      planned += target + ": " + std::string(copy["format"]) + " copy written to " +
                 std::string(copy["path"]) + "\n";
    }
  }
  EXPECT_EQ(planned + "6 files written\n", r.out);
  EXPECT_EQ(r.out,
            "Robot: 121 frames written to Robot-origin.txt\n"
            "Robot: nuke copy written to Robot-origin.nk\n"
            "Key: 121 frames written to Key-origin.txt\n"
            "Key: nuke copy written to Key-origin.nk\n"
            "Robot: 121 frames written to Robot-group-center.txt\n"
            "Robot: nuke copy written to Robot-group-center.nk\n"
            "6 files written\n");
  EXPECT_EQ(ReadFile(dir / "Robot-origin.txt"), ReadFile(kGolden + "orbit-robot-origin.txt"));
  for (const char* target : {"Robot-origin", "Key-origin", "Robot-group-center"}) {
    const std::string track = ReadFile(dir / (std::string(target) + ".txt"));
    std::string expected;
    std::istringstream lines(track);
    for (std::string line; std::getline(lines, line);) {
      std::replace(line.begin(), line.end(), '\t', ' ');
      expected += line + "\n";
    }
    EXPECT_EQ(ReadFile(dir / (std::string(target) + ".nk")), expected) << target;
  }
  const Result single =
      RunHost(dir, "export " + orbit + " --target Robot --mode group-center --group Roof -o g.txt");
  EXPECT_EQ(ReadFile(dir / "g.txt"), ReadFile(dir / "Robot-group-center.txt"));
  // Two groups of one model: by default a file each, named by its group.
  const Result groups =
      RunHost(dir, "export " + orbit +
                       " --target Robot:group-center:Roof --target Robot:group-center:Base");
  EXPECT_EQ(groups.status, 0) << groups.err;
  EXPECT_EQ(ReadFile(dir / "TQmotion-Robot-Roof.txt"), ReadFile(dir / "g.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "TQmotion-Robot-Base.txt"));
  // A group given for the whole command makes a target without a mode its
  // group's: two targets here, not one.
  const Result whole = RunHost(dir, "export " + orbit +
                                        " --group Roof --target Robot --target "
                                        "Robot:origin");
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(ReadFile(dir / "TQmotion-Robot-group-center.txt"), ReadFile(dir / "g.txt"));
  EXPECT_EQ(ReadFile(dir / "TQmotion-Robot-origin.txt"), ReadFile(dir / "Robot-origin.txt"));
  // "{{" is a "{" of the path itself: a folder v{2}, names ending in {}.
  std::filesystem::create_directory(dir / "v{2}");
  const Result braces =
      RunHost(dir, "export " + orbit + " --target Key --target Robot -o 'v{{2}/{target}{{}.txt'");
  EXPECT_EQ(braces.status, 0) << braces.err;
  EXPECT_NE(braces.out.find("Key: 121 frames written to v{2}/Key{}.txt\n"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "v{2}/Key{}.txt"), ReadFile(dir / "Key-origin.txt"));
  // One failed target fails the command, says which, and keeps the others.
  const Result failing =
      RunHost(dir, "export " + orbit + " --target Key --target Nope -o 'f-{target}.txt'");
  EXPECT_EQ(failing.status, 1);
  EXPECT_NE(failing.err.find("Nope: unknown target 'Nope'"), std::string::npos) << failing.err;
  EXPECT_NE(failing.out.find("1 file written; failed: Nope"), std::string::npos) << failing.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "f-Key.txt"));
}

// --also FORMAT without a file: the copy is named after -o's file, its
// extension replaced by the format's; a folder's dot, a leading dot or a
// field after the last dot is no extension. --plan says the names.
TEST(Tqhost, CopiesNamedAfterTheTrack) {
  const struct {
    const char* args;
    std::vector<std::string> copies;
  } rows[] = {
      {"-o t.txt --also nuke --also nuke-node --also ae --also shake --also 3de --also csv "
       "--also json",
       {"t.nk.txt", "t.nk", "t.ae.txt", "t.shk.txt", "t.3de.txt", "t.csv", "t.json"}},
      {"-o 'v.2/{target}' --also ae --also csv:c.csv", {"v.2/Robot.ae.txt", "c.csv"}},
      {"-o .track --also csv", {".track.csv"}},
      {"-o 'x.{mode}' --also 3de", {"x.origin.3de.txt"}},
      {"-o a.b.c --also json", {"a.b.json"}},
  };
  TempDir dir;
  for (const auto& row : rows) {
    const Result plan = RunHost(
        dir, "export '" + kExamples + "orbit.tqs.json' --target Robot " + row.args + " --plan");
    ASSERT_EQ(plan.status, 0) << row.args << ": " << plan.err;
    const nlohmann::json planJson = nlohmann::json::parse(plan.out);
    std::vector<std::string> copies;
    for (const auto& copy : planJson["runs"][0]["copies"]) copies.push_back(copy["path"]);
    EXPECT_EQ(copies, row.copies) << row.args;
  }
}

}  // namespace
