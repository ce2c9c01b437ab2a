// tqhost export: goldens, defaults, previews and where its files go.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/fileio/Concat.h"
#include "tests/fileio/TempDir.h"
#include "tests/app/Tqhost.h"

namespace {

using namespace tq::tqhost_test;

// A scene file of a 64 x 48 camera, Cam, from frame 0 to endFrame at 24
// fps, and the objects given (JSON, after the camera in the list).
void WriteShot(const std::string& path, int endFrame, const std::string& objects) {
  tq::testing::WriteFile(path, R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": )" +
                                   std::to_string(endFrame) + "}},\n      " + objects + "]}}");
}

// Exports a target of an example: its track is the golden file and holds
// the lines worked out by hand (the first of them first).
void ExpectGoldenTrack(const std::string& example, const std::string& target, int frames,
                       const std::string& golden, const std::vector<std::string>& lines) {
  TempDir dir;
  const Result r =
      RunHost(dir, "export '" + kExamples + example + "' --target " + target + " -o track.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::to_string(frames) + " frames written to track.txt\n");
  EXPECT_EQ(r.err, "");
  const std::string track = ReadFile(dir / "track.txt");
  EXPECT_EQ(track, ReadFile(kGolden + golden));
  EXPECT_EQ(track.rfind(lines.front(), 0), 0u);
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_NE(track.find("\n" + lines[i]), std::string::npos) << lines[i];
}

// The camera circles the robot; the robot is tracked at its origin.
// Frame 0: camera at (0, 2, 10) turned X(-11.31); robot at (-2, 0, 0).
//   v = P - C = (-2, -2, -10); camera space Q = X(11.31) v
//     = (-2, 0.98058 * -2 + 0.19612 * 10, -0.19612 * 2 - 0.98058 * 10) = (-2, 0.0000, -10.198)
//   d = 0.5 * -10.198 = -5.099; X = 320 - (-2 / -5.099) * 320 = 194.5 -> 194; Y = 240.
// Frame 30: camera at (10, 2, 0) turned Y(90) X(-11.31); robot at (-1, 1.5, 0).
//   v = (-11, -0.5, 0); Y(-90) v = (0, -0.5, -11); X(11.31) of that
//     = (0, -0.49029 + 2.15732, -0.09806 - 10.78638) = (0, 1.66703, -10.88444)
//   d = -5.44222; X = 320; Y = 240 + (1.66703 / 5.44222) * (4/3) * 240 = 338.02 -> 338.
// Frame 60: camera at (0, 2, -10) turned Y(180) X(-11.31); robot at the origin.
//   v = (0, -2, 10); Y(180) v = (0, -2, -10); as frame 0 with x = 0: X = 320, Y = 240.
TEST(Tqhost, OrbitGolden) {
  ExpectGoldenTrack("orbit.tqs.json", "Robot", 121, "orbit-robot-origin.txt",
                    {"0\t194\t240\n", "30\t320\t338\n", "60\t320\t240\n"});
}

// A locked-off camera at (0, 1.5, 12) turned X(-5), zooming 35 -> 50 -> 85 at
// frames 1, 24 and 48; the target stands at (0, 1, 0); 1920 x 1080.
//   v = (0, -0.5, -12); Q = X(5) v = (0, -0.498097 + 1.045872, -0.043578 - 11.954340)
//     = (0, 0.547775, -11.997918); aspect 1.777778, hh 540, X = 960 throughout.
//   frame 1, f = 35, T = 0.5: d = -5.998959,
//     Y = 540 + 0.091312 * 1.777778 * 540 = 627.66 -> 628
//   frame 24, f = 50, T = 0.35: d = -4.199271,
//     Y = 540 + 0.130445 * 1.777778 * 540 = 665.23 -> 665
//   frame 48, f = 85, T = 0.205882: d = -2.470160,
//     Y = 540 + 0.221757 * 1.777778 * 540 = 752.89 -> 753
TEST(Tqhost, ZoomGolden) {
  ExpectGoldenTrack("zoom.tqs.json", "Target", 48, "zoom-target.txt",
                    {"0\t960\t628\n", "23\t960\t665\n", "47\t960\t753\n"});
}

TEST(Tqhost, DefaultsAndPreview) {
  TempDir dir;
  const Result r =
      RunHost(dir, "export '" + kExamples +
                       "orbit.tqs.json' --camera Closeup --target Robot "
                       "--mode group-center --group Roof --start 12.5 --end 14 --preview p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 frames written to TQmotion.txt\npreview drawn in p.svg\n");
  const std::string track = ReadFile(dir / "TQmotion.txt");
  EXPECT_EQ(std::count(track.begin(), track.end(), '\n'), 2);
  const std::string svg = ReadFile(dir / "p.svg");
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_NE(svg.find("Robot (group Roof) through Closeup"), std::string::npos);
  EXPECT_NE(svg.find("320 x 240 pixels, 2 frames"), std::string::npos);
  EXPECT_NE(svg.find("first (frame 12.5)"), std::string::npos);
  EXPECT_NE(svg.find("last (frame 13.5)"), std::string::npos);
}

// Every 10th frame keeps its label, however crowded the track (80 and 90
// sit close together on the orbit), and the picture holds the track where it
// leaves the image.
TEST(Tqhost, PreviewKeepsEveryLabelAndTheTrackOutsideTheImage) {
  TempDir dir;
  const Result r = RunHost(dir, "export '" + kExamples +
                                    "orbit.tqs.json' --target Robot --width 200 --height 150 "
                                    "-o t.txt --preview p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = ReadFile(dir / "p.svg");
  for (int frame = 0; frame <= 120; frame += 10) {
    const std::string label = tq::fileio::Concat({">", std::to_string(frame), "</text>"});
    EXPECT_NE(svg.find(label), std::string::npos) << frame;
  }
  // A target that runs out of a 64 x 48 image to X = 32 - (30 / -5) x 32 =
  // 224: the picture reaches past it.
  WriteShot(
      dir / "out.tqs.json", 10,
      R"({"type": "null", "name": "T", "translate": {"keys": [[0, [0, 0, -10]], [10, [30, 0, -10]]]}})");
  ASSERT_EQ(RunHost(dir, "export out.tqs.json --target T -o o.txt --preview o.svg").status, 0);
  EXPECT_EQ(ReadFile(dir / "o.txt").substr(ReadFile(dir / "o.txt").rfind("10\t")), "10\t224\t24\n");
  const std::string out = ReadFile(dir / "o.svg");
  const auto box = out.find("viewBox=\"");
  double left = 0, top = 0, width = 0, height = 0;
  ASSERT_EQ(std::sscanf(out.c_str() + box + 9, "%lf %lf %lf %lf", &left, &top, &width, &height), 4);
  EXPECT_GT(left + width, 224.0);
  EXPECT_NE(out.find("cx=\"224\""), std::string::npos);  // the last frame is drawn
}

// Without options the run tracks the first object that is not a camera and
// says so; a group or a bone given alone says the mode.
TEST(Tqhost, DefaultsThatWork) {
  TempDir dir;
  const std::string orbit = "'" + kExamples + "orbit.tqs.json'";
  const Result plain = RunHost(dir, "export " + orbit);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out,
            "tracked Robot, the first object that is not the camera\n"
            "121 frames written to TQmotion.txt\n");
  EXPECT_EQ(ReadFile(dir / "TQmotion.txt"), ReadFile(kGolden + "orbit-robot-origin.txt"));
  for (const char* given : {"--group Roof", "--bone Neck"}) {
    const std::string mode = given[2] == 'g' ? "--mode group-center " : "--mode bone ";
    ASSERT_EQ(RunHost(dir, "export " + orbit + " --target Robot " + given + " -o a.txt").status, 0);
    ASSERT_EQ(
        RunHost(dir, "export " + orbit + " --target Robot " + mode + given + " -o b.txt").status,
        0);
    EXPECT_EQ(ReadFile(dir / "a.txt"), ReadFile(dir / "b.txt")) << given;
    EXPECT_NE(ReadFile(dir / "a.txt"), ReadFile(kGolden + "orbit-robot-origin.txt")) << given;
  }
}

// The folders an output pattern names are made, each said once, before the
// files that go in them.
TEST(Tqhost, MissingFoldersAreMade) {
  TempDir dir;
  const Result r =
      RunHost(dir, "export '" + kExamples +
                       "orbit.tqs.json' --target Robot --target Key -o "
                       "'sh \"1\"/$(x)/{target}/t.txt' --also 'csv:é {camera}/{target}.csv'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out.substr(0, r.out.find("Robot: ")),
      "folder sh \"1\"/$(x)/Robot made\nfolder é Camera1 made\nfolder sh \"1\"/$(x)/Key made\n");
  for (const char* file : {"sh \"1\"/$(x)/Key/t.txt", "é Camera1/Robot.csv", "é Camera1/Key.csv"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / file)) << file;
}

// A run that writes nothing, or frames that could not be projected, says so.
TEST(Tqhost, EmptyAndSaturatedRunsAreNamed) {
  TempDir dir;
  const Result empty = RunHost(
      dir, "export '" + kExamples + "orbit.tqs.json' --target Robot --start 50 --end 3 -o e.txt");
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "0 frames written (the start frame is after the end frame)\n");
  EXPECT_EQ(ReadFile(dir / "e.txt"), "");
  // The target reaches the camera's image plane (z = 0) at frame 2 of 0..2.
  WriteShot(
      dir / "plane.tqs.json", 2,
      R"({"type": "null", "name": "T", "translate": {"keys": [[0, [0, 0, -10]], [2, [0, 0, 0]]]}})");
  const Result plane = RunHost(dir, "export plane.tqs.json --target T -o p.txt --preview p.svg");
  EXPECT_EQ(plane.status, 0) << plane.err;
  EXPECT_EQ(plane.out, "3 frames written to p.txt\npreview drawn in p.svg\n");
  // The picture marks the frame it could not project.
  const std::string svg = ReadFile(dir / "p.svg");
  EXPECT_NE(svg.find("1 of 3 frames could not be projected"), std::string::npos);
  EXPECT_NE(svg.find("<title>frame 2 could not be projected</title>"), std::string::npos);
  EXPECT_EQ(plane.err,
            "tqhost: warning: 1 of 3 frames could not be projected: the target is at the camera "
            "or in its image plane\n");
  EXPECT_EQ(ReadFile(dir / "p.txt"), "0\t32\t24\n1\t32\t24\n2\t-2147483648\t-2147483648\n");
  // Past the plane the target is behind the camera at frames 3 and 4
  // (z = 5, 10): the values are mirrored, kept, warned about and marked.
  WriteShot(
      dir / "behind.tqs.json", 4,
      R"({"type": "null", "name": "T", "translate": {"keys": [[0, [1, 0, -10]], [4, [1, 0, 10]]]}})");
  const Result behind = RunHost(dir, "export behind.tqs.json -o b.txt --preview b.svg");
  EXPECT_EQ(behind.status, 0) << behind.err;
  EXPECT_NE(behind.err.find("tqhost: warning: 2 of 5 frames: the target is behind the camera; "
                            "those values are mirrored\n"),
            std::string::npos)
      << behind.err;
  // X = 32 - (1 / (0.5 z)) * 32: 38.4 at z = -10, and at z = 5 19.2, where
  // in front (z = -5) it would be 44.8.
  EXPECT_EQ(ReadFile(dir / "b.txt").substr(0, 8), "0\t38\t24\n");
  EXPECT_NE(ReadFile(dir / "b.txt").find("\n3\t19\t24\n"), std::string::npos);
  const std::string marked = ReadFile(dir / "b.svg");
  std::size_t behindDots = 0;
  for (std::size_t at = 0; (at = marked.find("class=\"behind\"", at)) != std::string::npos; ++at)
    ++behindDots;
  EXPECT_EQ(behindDots, 2u);
  // Through a lens that folds beyond a slope of sqrt(1 / 90) = 0.105,
  // frames 0 and 4 (slope 0.1, x = 32 + 64 x 0.1 x (1 - 30 x 0.01) = 36.48 in
  // front) are written; frames 1 and 3 (slope 0.2) are told as beyond the
  // lens alone, though frame 3 is also behind the camera, and frame 2, in the
  // image plane, as that.
  const Result folded =
      RunHost(dir, "export behind.tqs.json -o f.txt --distortion brown:-30,0 --decimals 1");
  EXPECT_EQ(folded.err,
            "tqhost: warning: 1 of 5 frames could not be projected: the target is at the camera or "
            "in its image plane\ntqhost: warning: 1 of 5 frames: the target is behind the camera; "
            "those values are mirrored\ntqhost: warning: 2 of 5 frames lie beyond where the lens's "
            "distortion holds "
            "(it turns back on itself there); they are written as frames that could not be "
            "projected\n");
  EXPECT_EQ(ReadFile(dir / "f.txt").substr(0, 48),
            "0\t36.5\t24.0\n1\t-2147483648.0\t-2147483648.0\n2\t-214");
  // Two targets of one run, the camera worked out once for both: each its
  // own frames, its warnings named by it. U is behind at frame 0 (z = 5).
  WriteShot(
      dir / "two.tqs.json", 4,
      R"({"type": "null", "name": "T", "translate": {"keys": [[0, [1, 0, -10]], [4, [1, 0, 10]]]}},
      {"type": "null", "name": "U", "translate": {"keys": [[0, [1, 0, 5]], [4, [1, 0, -15]]]}})");
  const Result two = RunHost(dir, "export two.tqs.json --all-targets -o '{target}.txt'");
  EXPECT_EQ(two.status, 0) << two.err;
  for (const char* warning : {"tqhost: T: warning: 2 of 5 frames: the target is behind the camera",
                              "tqhost: U: warning: 1 of 5 frames: the target is behind the camera"})
    EXPECT_NE(two.err.find(warning), std::string::npos) << two.err;
}

// Standard output as the track: appended to what a log already holds, into
// a pipe, and as "-"; the summary then goes to standard error.
TEST(Tqhost, StandardOutputIsWrittenInPlace) {
  TempDir dir;
  const std::string track = "0\t194\t240\n1\t210\t242\n2\t219\t245\n";
  const std::string run = "\"$HOST\" export \"$ORBIT\" --target Robot --end 2";
  ASSERT_EQ(
      RunScript(dir, "echo before > log.txt && " + run + " -o /dev/stdout >> log.txt 2>/dev/null"),
      0);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "before\n" + track);
  ASSERT_EQ(RunScript(dir, run + " -o /dev/stdout 2>err.txt | cat > piped.txt"), 0);
  EXPECT_EQ(ReadFile(dir / "piped.txt"), track);
  EXPECT_EQ(ReadFile(dir / "err.txt"), "3 frames written to standard output\n");
  ASSERT_EQ(RunScript(dir, run + " -o - > dash.txt 2>err.txt"), 0);
  EXPECT_EQ(ReadFile(dir / "dash.txt"), track);
  EXPECT_EQ(ReadFile(dir / "err.txt"), "3 frames written to standard output\n");
  // A summary that cannot be written is a failure, not success.
  EXPECT_EQ(RunScript(dir, run + " -o t.txt > /dev/full 2>err.txt"), 1);
  EXPECT_EQ(ReadFile(dir / "err.txt"),
            "tqhost: cannot write standard output: No space left on device\n");
  // Closed standard output and error: a track is the track alone (no line of
  // the summary or a warning in it), and the summary lost is a failure.
  EXPECT_EQ(RunScript(dir, run + " -o c.txt >&- 2>&-"), 1);
  EXPECT_EQ(ReadFile(dir / "c.txt"), track);
  WriteShot(dir / "two.tqs.json", 1, R"({"type": "null", "name": "T", "translate": [1, 0, 5]},
      {"type": "null", "name": "U", "translate": [1, 0, 5]})");  // behind: warnings
  RunScript(dir, "\"$HOST\" export two.tqs.json --all-targets -o '{target}.txt' 2>&-");
  for (const char* file : {"T.txt", "U.txt"})
    EXPECT_EQ(ReadFile(dir / file), "0\t19\t24\n1\t19\t24\n") << file;  // 32 - 1 / 2.5 * 32
}

// A pipe as the output, with a picture: the picture is drawn from the lines
// the run wrote, never read back from the pipe (which would block).
TEST(Tqhost, PreviewOfATrackWrittenIntoAPipe) {
  TempDir dir;
  ASSERT_EQ(RunScript(dir,
                      "mkfifo f && (cat f > got.txt &) && \"$HOST\" export \"$ORBIT\" "
                      "--target Robot --end 2 -o f --preview p.svg > out.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "out.txt"), "3 frames written to f\npreview drawn in p.svg\n");
  EXPECT_NE(ReadFile(dir / "p.svg").find("3 frames"), std::string::npos);
}

// A file-size limit is a write error with its message: the old track and the
// old picture are kept byte for byte, and no temporary is left.
TEST(Tqhost, FileSizeLimitIsAnOrdinaryWriteError) {
  TempDir dir;
  tq::testing::WriteFile(dir / "t.txt", "old track\n");
  tq::testing::WriteFile(dir / "p.svg", "old picture\n");
  ASSERT_EQ(RunScript(dir,
                      "ulimit -f 1 && \"$HOST\" export \"$ORBIT\" --target Robot -o t.txt "
                      "2> err.txt; echo $? > status.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "status.txt"), "1\n");
  EXPECT_EQ(ReadFile(dir / "err.txt"),
            "tqhost: The motion data could not be written to \"t.txt\": File too large. No file "
            "was written.\n");
  ASSERT_EQ(RunScript(dir,
                      "ulimit -f 1 && \"$HOST\" export \"$ORBIT\" --target Robot --end 2 "
                      "-o small.txt --preview p.svg > /dev/null 2> err.txt; echo $? > status.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "status.txt"), "1\n");
  EXPECT_EQ(ReadFile(dir / "err.txt"), "tqhost: cannot write the preview p.svg: File too large\n");
  EXPECT_EQ(ReadFile(dir / "t.txt"), "old track\n");
  EXPECT_EQ(ReadFile(dir / "p.svg"), "old picture\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
}

// A track whose file cannot be put in place (the disk fails as the batch is
// made durable) fails its target and is left out of the shared HTML page;
// the same target's track in another mode stays.
TEST(Tqhost, APageShowsOnlyTracksPutInPlace) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's runtime must be the first library loaded";
#else
  TempDir dir;
  EXPECT_EQ(RunScript(dir, "TQ_FAIL_LINK=Robot-origin LD_PRELOAD=\"" + std::string(TQ_BIN_DIR) +
                               "/faillink.so\" \"$HOST\" export \"$ORBIT\" --target Robot:origin "
                               "--target Robot:model-center --target Key --end 2 -o "
                               "\"{target}-{mode}.txt\" --preview p.html > out.txt 2> /dev/null"),
            1);
  EXPECT_NE(ReadFile(dir / "out.txt")
                .find("preview of 2 targets drawn in p.html\n3 files written; failed: Robot\n"),
            std::string::npos);
  const std::string page = ReadFile(dir / "p.html");
  EXPECT_EQ(page.find("\"mode\":\"origin\""), std::string::npos);
  EXPECT_NE(page.find("\"name\":\"Robot\",\"mode\":\"model centre\""), std::string::npos);
  // Only a copy lost: the failure names the copy, its target's track stands.
  EXPECT_EQ(
      RunScript(dir,
                "TQ_FAIL_LINK=Key.nk LD_PRELOAD=\"" + std::string(TQ_BIN_DIR) +
                    "/faillink.so\" \"$HOST\" export \"$ORBIT\" --target Robot --target Key "
                    "--end 2 -o \"{target}.txt\" --also nuke:{target}.nk > out.txt 2> /dev/null"),
      1);
  EXPECT_NE(ReadFile(dir / "out.txt").find("3 files written; failed: the nuke copy Key.nk\n"),
            std::string::npos)
      << ReadFile(dir / "out.txt");
#endif
}

// Without a clipboard program the run says so, and still succeeds.
// A clipboard program that is missing, fails, never reads or keeps its
// output open: the track is written all the same, tqhost neither dies nor
// hangs, tries the next program, and fails with why when none took it.
TEST(Tqhost, ClipboardProgramsCannotKillOrHangTheExport) {
  struct Row {
    std::string wlcopy, xclip;  // the programs' scripts; "" for none
    int status;
    std::string says;
    const char* folder = "bin";  // where the programs are; "." is the working folder
  } rows[] = {
      {"", "", 1,
       "tqhost: --clipboard: no clipboard program (install wl-copy or xclip); the keyframe data is "
       "not on the clipboard\n"},
      {"exit 3", "cat >clip", 0, "put on the clipboard (xclip)"},
      {"exec <&-; sleep 1; exit 0", "cat >clip", 0, "put on the clipboard (xclip)"},
      {"exit 0", "", 1, "wl-copy: it exited without reading all the data"},
      {"sleep 30", "cat >clip", 0, "put on the clipboard (xclip)"},
      {"cat >clip; (sleep 30 &) ", "", 0, "put on the clipboard (wl-copy)"},
      {"kill -9 $$", "exit 1", 1,
       "tqhost: --clipboard: wl-copy: it was ended by signal 9; xclip: it failed with exit status "
       "1"},
      // PATH's empty and relative entries name the working folder: not searched.
      {"cat >clip", "cat >clip", 1, "no clipboard program (install wl-copy or xclip)", "."},
  };
  for (const Row& r : rows) {
    TempDir dir;
    std::filesystem::create_directory(dir / "bin");
    for (const auto& [name, script] : {std::pair{"wl-copy", r.wlcopy}, {"xclip", r.xclip}}) {
      if (script.empty()) continue;
      const std::string program = dir / r.folder + "/" + name;
      tq::testing::WriteFile(program, "#!/bin/sh\n" + script + "\n");
      std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    }
    // Piped through cat: a program that kept the output open would hang it.
    const std::string command = "cd '" + dir.path().string() + "' && PATH='" + (dir / "bin") +
                                ":/usr/bin:/bin::.' timeout 20 '" + kHost + "' export '" +
                                kExamples +
                                "orbit.tqs.json' --target Robot --end 2 -o t.txt --clipboard 2>err "
                                "| cat >out";
    const int raw = std::system(("bash -o pipefail -c \"" + command + "\"").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, r.status)
        << r.wlcopy << ReadFile(dir / "err");
    EXPECT_NE((ReadFile(dir / "out") + ReadFile(dir / "err")).find(r.says), std::string::npos)
        << r.wlcopy << "\n"
        << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(dir / "t.txt").substr(0, 9), "0\t194\t240") << r.wlcopy;
    const bool copied = (r.wlcopy + r.xclip).find("cat >clip") != std::string::npos &&
                        std::string(r.folder) == "bin";
    EXPECT_EQ(ReadFile(dir / "clip").find("Keyframe Data") != std::string::npos, copied)
        << r.wlcopy;
  }
}

}  // namespace
