// tqhost as a user runs it: the built binary, its output and exit status.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/fileio/Concat.h"
#include "tests/fileio/TempDir.h"
#include "tests/scene/GltfBuilder.h"

namespace {

using tq::testing::ReadFile;
using tq::testing::TempDir;

const std::string kHost = std::string(TQ_BIN_DIR) + "/tqhost";
const std::string kExamples = std::string(TQ_SOURCE_DIR) + "/examples/";
const std::string kGolden = std::string(TQ_SOURCE_DIR) + "/tests/app/golden/";

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs tqhost in dir with the arguments (already quoted for the shell).
Result RunHost(const TempDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path().string() + "' && '" + kHost + "' " + args +
                              " >'" + (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir / "stdout"),
          ReadFile(dir / "stderr")};
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
  TempDir dir;
  const Result r =
      RunHost(dir, "export '" + kExamples + "orbit.tqs.json' --target Robot -o track.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "121 frames written to track.txt\n");
  EXPECT_EQ(r.err, "");
  const std::string track = ReadFile(dir / "track.txt");
  EXPECT_EQ(track, ReadFile(kGolden + "orbit-robot-origin.txt"));
  EXPECT_EQ(track.rfind("0\t194\t240\n", 0), 0u);
  EXPECT_NE(track.find("\n30\t320\t338\n"), std::string::npos);
  EXPECT_NE(track.find("\n60\t320\t240\n"), std::string::npos);
}

// A locked-off camera at (0, 1.5, 12) turned X(-5), zooming 35 -> 50 -> 85 at
// frames 1, 24 and 48; the target stands at (0, 1, 0); 1920 x 1080.
//   v = (0, -0.5, -12); Q = X(5) v = (0, -0.498097 + 1.045872, -0.043578 - 11.954340)
//     = (0, 0.547775, -11.997918); aspect 1.777778, hh 540, X = 960 throughout.
//   frame 1,  f = 35, T = 0.5:      d = -5.998959, Y = 540 + 0.091312 * 1.777778 * 540 = 627.66 ->
//   628 frame 24, f = 50, T = 0.35:     d = -4.199271, Y = 540 + 0.130445 * 1.777778 * 540 = 665.23
//   -> 665 frame 48, f = 85, T = 0.205882: d = -2.470160, Y = 540 + 0.221757 * 1.777778 * 540 =
//   752.89 -> 753
TEST(Tqhost, ZoomGolden) {
  TempDir dir;
  const Result r =
      RunHost(dir, "export '" + kExamples + "zoom.tqs.json' --target Target -o zoom.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "48 frames written to zoom.txt\n");
  const std::string track = ReadFile(dir / "zoom.txt");
  EXPECT_EQ(track, ReadFile(kGolden + "zoom-target.txt"));
  EXPECT_EQ(track.rfind("0\t960\t628\n", 0), 0u);
  EXPECT_NE(track.find("\n23\t960\t665\n"), std::string::npos);
  EXPECT_NE(track.find("\n47\t960\t753\n"), std::string::npos);
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
  tq::testing::WriteFile(dir / "out.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 10}},
      {"type": "null", "name": "T", "translate": {"keys": [[0, [0, 0, -10]], [10, [30, 0, -10]]]}}]}})");
  ASSERT_EQ(RunHost(dir, "export out.tqs.json --target T -o o.txt --preview o.svg").status, 0);
  EXPECT_EQ(ReadFile(dir / "o.txt").substr(ReadFile(dir / "o.txt").rfind("10\t")), "10\t224\t24\n");
  const std::string out = ReadFile(dir / "o.svg");
  const auto box = out.find("viewBox=\"");
  double left = 0, top = 0, width = 0, height = 0;
  ASSERT_EQ(std::sscanf(out.c_str() + box + 9, "%lf %lf %lf %lf", &left, &top, &width, &height), 4);
  EXPECT_GT(left + width, 224.0);
  EXPECT_NE(out.find("cx=\"224\""), std::string::npos);  // the last frame is drawn
}

TEST(Tqhost, InfoAndCommands) {
  TempDir dir;
  const Result info = RunHost(dir, "info '" + kExamples + "orbit.tqs.json'");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Project \"Orbit\": 30 fps"), std::string::npos);
  EXPECT_NE(info.out.find("    Camera1.OutputOptions.Range.EndFrame = 540000 ticks (frame 120)\n"),
            std::string::npos);
  EXPECT_NE(info.out.find(
                "  Robot (model)\n    groups: Base Roof\n    bones:\n      Root\n         Spine\n"
                "            Neck\n         Arm\n      Prop\n"),
            std::string::npos);
  EXPECT_NE(info.out.find("  Props (folder)\n"), std::string::npos);
  const Result commands = RunHost(dir, "commands");
  EXPECT_EQ(commands.status, 0) << commands.err;
  EXPECT_EQ(commands.out, "0\tExport TQ motiondata...\n");
  const Result help = RunHost(dir, "export --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--mode MODE"), std::string::npos);
}

// info --json holds what the scene file says, read here on its own terms:
// the rate, each camera's output size and range, each object's type, groups
// and bone tree.
TEST(Tqhost, InfoJsonHoldsTheScene) {
  using nlohmann::json;
  TempDir dir;
  const Result info = RunHost(dir, "info '" + kExamples + "orbit.tqs.json' --json");
  ASSERT_EQ(info.status, 0) << info.err;
  const json got = json::parse(info.out);
  std::ifstream file(kExamples + "orbit.tqs.json");
  const json scene = json::parse(file);
  EXPECT_EQ(got["format"], "tqhost-info");
  EXPECT_EQ(got["version"], 1);
  EXPECT_EQ(got["fps"], scene["project"]["fps"]);
  // Bones as the scene has them, without their pivots.
  const std::function<json(const json&)> tree = [&](const json& bones) {
    json out = json::array();
    for (const json& b : bones)
      out.push_back({{"name", b["name"]}, {"children", tree(b.value("children", json::array()))}});
    return out;
  };
  std::size_t camera = 0, object = 0;
  for (const json& o : scene["chor"]["objects"]) {
    const json& mine = got["objects"].at(object++);
    EXPECT_EQ(mine["name"], o["name"]);
    EXPECT_EQ(mine["type"], o["type"]);
    json groups = json::array();
    for (const json& g : o.value("groups", json::array())) groups.push_back(g["name"]);
    EXPECT_EQ(mine["groups"], groups);
    EXPECT_EQ(mine["bones"], tree(o.value("bones", json::array())));
    if (o["type"] != "camera") continue;
    const json& c = got["cameras"].at(camera++);
    EXPECT_EQ(c["name"], o["name"]);
    for (const auto& [field, key] : {std::pair{"width", "width"},
                                     {"height", "height"},
                                     {"first_frame", "startFrame"},
                                     {"last_frame", "endFrame"}})
      EXPECT_EQ(c[field], o["output"][key]) << o["name"] << " " << field;
  }
  EXPECT_EQ(got["objects"].size(), object);
  EXPECT_EQ(got["cameras"].size(), camera);
  EXPECT_EQ(got["animations"], json::array());
}

// A stranger's folder may hold files named like the libraries tqhost and the
// plug-in load: they are found beside tqhost and in the system, never here.
TEST(Tqhost, NothingInTheWorkingFolderIsTakenOnTrust) {
  TempDir dir;
  for (const char* name : {"libncurses.so.6", "libtinfo.so.6", "libstdc++.so.6", "libm.so.6",
                           "libgcc_s.so.1", "libtqscene.so", "libtqframework.so"})
    tq::testing::WriteFile(dir / name, "not a library\n");
  // A plug-in there that shows no dialog: loaded, the run would fail.
  std::filesystem::copy_file(std::string(TQ_BIN_DIR) + "/nodialog.plg", dir / "tqmotion.plg");
  const Result r =
      RunHost(dir, "export '" + kExamples + "orbit.tqs.json' --target Robot -o track.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "121 frames written to track.txt\n");
  // The default output is no name the user gave: a link or a FIFO there is refused.
  tq::testing::WriteFile(dir / "victim", "kept\n");
  std::filesystem::create_symlink("victim", dir / "TQmotion.txt");
  ASSERT_EQ(mkfifo((dir / "TQmotion-Key.txt").c_str(), 0600), 0);
  // Read from (without waiting), so that a run that wrote to it ends.
  const int reader = open((dir / "TQmotion-Key.txt").c_str(), O_RDONLY | O_NONBLOCK);
  const std::pair<std::string, std::string> defaults[] = {
      {"--target Robot", "TQmotion.txt is a symbolic link"},
      {"--target Robot --target Key", "TQmotion-Key.txt is a FIFO"}};
  for (const auto& [targets, what] : defaults) {
    const Result d = RunHost(dir, "export '" + kExamples + "orbit.tqs.json' " + targets);
    EXPECT_EQ(d.status, 2) << targets;
    EXPECT_EQ(d.err, "tqhost: the default output " + what +
                         ", not a file; give -o FILE\nTry 'tqhost export --help'.\n");
  }
  EXPECT_EQ(ReadFile(dir / "victim"), "kept\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "TQmotion-Robot.txt"));
  std::filesystem::remove(dir / "TQmotion.txt");
  close(reader);
  // Without /proc tqhost cannot tell its own folder (nor the loader $ORIGIN,
  // hence LD_LIBRARY_PATH): it asks for --plugin.
  const std::string noProc = "LD_LIBRARY_PATH='" + std::string(TQ_BIN_DIR) +
                             "' unshare -m sh -c \"umount -l /proc && exec '" + kHost +
                             "' export '" + kExamples + "orbit.tqs.json'\" 2>'" + (dir / "err") +
                             "'";
  const int raw = std::system(("cd '" + dir.path().string() + "' && " + noProc).c_str());
  if (ReadFile(dir / "err").rfind("tqhost: ", 0) != 0)
    GTEST_SKIP() << "no mount namespace here: " << ReadFile(dir / "err");
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  EXPECT_EQ(ReadFile(dir / "err"),
            "tqhost: cannot find the plug-in: tqhost cannot tell its own folder (is /proc "
            "mounted?); give --plugin PATH\n");
}

TEST(Tqhost, FailuresAndTheirExitStatus) {
  TempDir dir;
  tq::testing::WriteFile(dir / "broken.tqs.json", "{\"format\": \"tq-scene\", \"version\": 2}");
  tq::testing::WriteFile(dir / "cams.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [{"type": "camera", "name": "Cam"}]}})");
  tq::testing::WriteFile(dir / "slash.tqs.json",
                         R"({"format": "tq-scene", "version": 1, "project": {"fps": 24},
    "chor": {"objects": [{"type": "camera", "name": "C"}, {"type": "null", "name": "a/b"},
    {"type": "null", "name": "a_b"}]}})");
  tq::testing::WriteFile(dir / "t.txt", "0\t1\t2\n");
  std::filesystem::create_directory(dir / "shots.svg");
  std::filesystem::create_symlink("y.txt", dir / "x.txt");  // dangling: it writes y.txt
  tq::testing::WriteFile(dir / "b.bin", "data");
  tq::testing::WriteFile(dir / "ext.gltf", R"({"asset": {"version": "2.0"},
    "buffers": [{"uri": "b.bin", "byteLength": 4}], "scenes": [{"nodes": [0, 1]}],
    "cameras": [{"type": "perspective", "perspective": {"yfov": 0.8, "znear": 0.1}}],
    "nodes": [{"name": "Cam", "camera": 0}, {"name": "N"}]})");
  tq::testing::WriteFile(dir / "esc.gltf", R"({"asset": {"version": "2.0"},
    "buffers": [{"uri": "%1B]0;x%07%C2%9B2J.bin", "byteLength": 4}]})");
  const std::string orbit = "'" + kExamples + "orbit.tqs.json'";
  struct Row {
    std::string args;
    int status;
    std::string err;  // the start of standard error
  } rows[] = {
      // Mistakes in the user's words: the option, and the choices there are.
      {"export " + orbit + " --camera Nope", 1,
       "tqhost: unknown camera 'Nope'; the cameras are Camera1, Closeup\n"},
      {"export " + orbit + " --target Nope", 1,
       "tqhost: unknown target 'Nope'; the objects are Camera1, Closeup, Robot, Key, Marker\n"},
      {"export " + orbit + " --target Robot --group Lid", 1,
       "tqhost: unknown group 'Lid' of 'Robot'; its groups are Base, Roof\n"},
      {"export " + orbit + " --target Robot --mode bone --bone Prop", 1,
       "tqhost: unknown bone 'Prop' of 'Robot'; its bones are Root, Spine, Neck, Arm\n"},
      {"export " + orbit + " --width 6000", 1,
       "tqhost: --width 6000: Please enter an integer between 0 and 5000.\n"},
      {"export " + orbit + " --start abc", 1, "tqhost: --start abc: Please enter a number.\n"},
      {"export " + orbit + " --target Key --mode model-center", 1,
       "tqhost: --mode model-center: the target 'Key' offers origin\n"},
      // A missing folder is made; a file where the folder should be is the
      // plug-in's to refuse.
      {"export " + orbit + " --target Robot -o t.txt/track.txt", 1,
       "tqhost: The motion data could not be written to \"t.txt/track.txt\": Not a directory. "
       "No file was written.\n"},
      {"export broken.tqs.json", 1,
       "tqhost: broken.tqs.json: version: unsupported version 2 (this loader reads version 1) "
       "(line 1, column 35)\n"},
      {"export nothing.tqs.json", 1,
       "tqhost: nothing.tqs.json: cannot read: No such file or directory\n"},
      // A stranger's names reach the terminal with their controls made visible.
      {"export esc.gltf", 1,
       "tqhost: esc.gltf: buffers[0].uri: no file '\\x1B]0;x\\x07\\u009B2J.bin' in the glTF's"},
      {"--plugin none.plg commands", 1, "tqhost: cannot load the plug-in none.plg: no such file\n"},
      {"export", 2, "tqhost: export needs a scene file\nTry 'tqhost export --help'.\n"},
      {"--outptu x", 2,
       "tqhost: unknown option --outptu; did you mean --output?\nTry 'tqhost --help'.\n"},
      {"info --jsno x", 2,
       "tqhost: unknown option --jsno; did you mean --json?\nTry 'tqhost info --help'.\n"},
      {"export " + orbit + " --mode middle", 2,
       "tqhost: --mode must be origin, model-center, group-center or bone, not 'middle'\n"},
      {"export " + orbit + " --width", 2, "tqhost: --width needs a value\n"},
      {"export " + orbit + " --colour red", 2,
       "tqhost: unknown option --colour\nTry 'tqhost export --help'.\n"},
      {"export " + orbit + " --corner-pin Robot,Key,Marker", 2,
       "tqhost: --corner-pin takes four targets, BL,BR,TR,TL (bottom-left, bottom-right, "
       "top-right, top-left), not 'Robot,Key,Marker'\n"},
      {"export " + orbit + " --corner-pin Robot,Key,Marker,Key", 2,
       "tqhost: --corner-pin names 'Key' twice; a pin needs four different corners\n"},
      {"export " + orbit + " --corner-pin Robot,Key,Marker,Key:origin -o '{target}'", 2,
       "tqhost: --corner-pin names one target twice; a pin needs four different corners\n"},
      {"export " + orbit + " --corner-pin A,B,C,D --pin-from last", 2,
       "tqhost: --pin-from must be first-frame or image, not 'last'\n"},
      {"export " + orbit + " --corner-pin A,B,C,D --target Robot", 2,
       "tqhost: --corner-pin names its four targets; give no --target or --all-targets\n"},
      {"export " + orbit + " --taget Robot", 2,
       "tqhost: unknown option --taget; did you mean --target?\nTry 'tqhost export --help'.\n"},
      {"export " + orbit + " --target Camera1", 1,
       "tqhost: --target Camera1: The target is the camera itself. Choose another object.\n"},
      {"export " + orbit + " --fps 25", 2,
       "tqhost: --fps applies to glTF files; this scene runs at 30 fps\n"},
      {"--plugin '" + std::string(TQ_BIN_DIR) + "/nodialog.plg' export " + orbit, 1,
       "tqhost: the settings dialog could not be shown\n"},
      {"frobnicate", 2,
       "tqhost: unknown command 'frobnicate'; the commands are info, commands, export, dialog, "
       "import, convert\n"},
      {"export " + orbit + " --target A --target B -o same.txt", 2,
       "tqhost: with several targets, -o needs {target} in its pattern"},
      {"export " + orbit + " --target Robot --target Key -o -", 2,
       "tqhost: -o - writes one track; with several targets give -o PATTERN with {target}\n"},
      {"export " + orbit + " --target Robot --also word:x.txt", 2,
       "tqhost: --also takes FORMAT:FILE, the format one of nuke, nuke-node, ae, shake, 3de, csv, "
       "json; "
       "not 'word:x.txt'\n"},
      {"info " + orbit + " --camera Camera1", 2, "tqhost: --camera is not an option of info\n"},
      {"export " + orbit + " --preview=", 2, "tqhost: --preview needs a value\n"},
      {"export " + orbit + " --plate p.####.jpg --preview p.svg", 2,
       "tqhost: --plate shows footage in an HTML preview: give --preview FILE.html\n"},
      {"export " + orbit + " --preview p.HTML --plate a.#.b.#", 2,
       "tqhost: --plate a.#.b.#: more than one frame field (#### or %04d)\n"},
      {"export " + orbit + " --target=Robot -o", 2, "tqhost: -o needs a value\n"},
      {"export " + orbit + " --help=yes", 2, "tqhost: --help takes no value\n"},
      {"", 2, "tqhost: no command given\n"},
      {"export " + orbit + " --target Robot -o x.txt --also nuke:y.txt", 2,
       "tqhost: -o and --also nuke both name y.txt; each output needs a file of its own\n"},
      {"export " + orbit + " --target Robot -o /dev/fd/1 --also nuke:-", 2,
       "tqhost: -o and --also nuke both write to standard output"},
      {"export slash.tqs.json --all-targets", 2,
       "tqhost: the default output for 'a/b' and the default output for 'a_b' both name "
       "TQmotion-a_b.txt; each output needs a file of its own\n"},
      {"export slash.tqs.json --all-targets -o '{target}'", 2,
       "tqhost: -o for 'a/b' and -o for 'a_b' both name a_b; each"},
      {"export slash.tqs.json --target a/b:origin --target a_b:bone -o '{target}-{mode}.txt' "
       "--preview '{target}.html'",
       2, "tqhost: --preview for 'a/b' and --preview for 'a_b' both name a_b.html"},
      {"export cams.tqs.json --all-targets", 2,
       "tqhost: the scene has no object to track (cameras and folders are not targets)\n"},
      {"export cams.tqs.json", 2,
       "tqhost: the scene has no object to track (cameras and folders are not targets)\n"},
      {"convert t.txt --to nuke -o t.txt", 2, "tqhost: -o t.txt: that is the track it reads\n"},
      {"import ext.gltf -o ./b.bin", 2,
       "tqhost: -o ./b.bin: the scene's data is read from that file\n"},
      {"export ext.gltf -o b.bin", 2,
       "tqhost: -o b.bin: the scene's data is read from that file\n"},
      {"convert t.txt --to 3de --first-frame -5", 1,
       "tqhost: t.txt: the 3de format counts whole frames from 1: --first-frame -5 is not one of "
       "them\n"},
      {"export " + orbit + " --target Robot -o r.txt --also nuke:./r.txt", 2,
       "tqhost: -o and --also nuke both name ./r.txt; each output needs a file of its own\n"},
      {"export " + orbit + " -o " + orbit, 2,
       "tqhost: -o " + kExamples + "orbit.tqs.json: that is the scene file\n"},
      {"export " + orbit + " --target Robot --target Key --also nuke:n.txt", 2,
       "tqhost: with several targets, --also needs {target} in its pattern\n"},
      {"export " + orbit + " --target Robot --target Key --preview p.svg", 2,
       "tqhost: with several targets, --preview needs {target} in its pattern\n"},
      {"export " + orbit + " --target Robot --target Key -o '{{target}.txt'", 2,
       "tqhost: with several targets, -o needs {target} in its pattern"},
      {"export " + orbit + " -o '{foo}.txt'", 2,
       "tqhost: -o {foo}.txt: unknown field {foo}; the fields are {target}, {camera}, {mode} and "
       "{group}\n"},
      {"export " + orbit + " --jobs 0", 2,
       "tqhost: --jobs 0: give a count of processes from 1 to 64\n"},
      {"export " + orbit + " --jobs 2x", 2,
       "tqhost: --jobs 2x: give a count of processes from 1 to 64\n"},
      {"export " + orbit + " -o - --also nuke:-", 2,
       "tqhost: -o and --also nuke both write to standard output; at most one output may go "
       "there\n"},
      // The preview's kind from its extension alone, its path checked first.
      {"export " + orbit + " --target Robot -o r.txt --preview robot.png", 2,
       "tqhost: --preview robot.png: a preview is FILE.svg (a picture) or FILE.html or FILE.htm "
       "(a page)\n"},
      {"export " + orbit + " --target Robot -o r.txt --preview robot", 2,
       "tqhost: --preview robot: a preview is FILE.svg"},
      {"export " + orbit + " --target Robot -o r.txt --preview shots.svg", 2,
       "tqhost: --preview shots.svg: that is a folder; give the name of a file\n"},
  };
  for (const Row& row : rows) {
    const Result r = RunHost(dir, row.args);
    EXPECT_EQ(r.status, row.status) << row.args << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, row.err.size()), row.err) << row.args;
    EXPECT_EQ(r.out, "") << row.args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "TQmotion.txt"));  // nothing refused wrote a file
  EXPECT_FALSE(std::filesystem::exists(dir / "r.txt"));
  EXPECT_EQ(ReadFile(dir / "b.bin"), "data");
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

// tqhost dialog on a terminal ncurses cannot drive (TERM unknown or unset, a
// size it cannot allocate) says so as tqhost, exit 1, and draws nothing.
TEST(Tqhost, DialogOnATerminalItCannotDraw) {
  if (std::system("script -qec true /dev/null </dev/null >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no script(1) to give tqhost a terminal";
  const struct Row {
    std::string env;
    std::string term;  // as the message names it
  } rows[] = {{"TERM=no-such-terminal", "no-such-terminal"},
              {"TERM=\"$(printf 'x\\033]0;t\\007')\"", "x\\x1B]0;t\\x07"},
              {"unset TERM;", ""},
              {"TERM=xterm COLUMNS=100000 LINES=100000", "xterm"}};
  for (const Row& row : rows) {
    TempDir dir;
    const std::string command = "cd '" + dir.path().string() + "' && " + row.env +
                                " script -qec \"exec '" + kHost + "' dialog '" + kExamples +
                                "orbit.tqs.json' 2>'" + (dir / "err") +
                                "'\" /dev/null </dev/null >'" + (dir / "tty") + "'";
    const int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << row.env;
    EXPECT_EQ(ReadFile(dir / "err"), "tqhost: dialog cannot draw on this terminal (TERM=" +
                                         row.term + ", unknown here, or a size it cannot have)\n")
        << row.env;
    EXPECT_EQ(ReadFile(dir / "tty"), "") << row.env;
  }
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

// A run that writes nothing, or frames that could not be projected, says so.
TEST(Tqhost, EmptyAndSaturatedRunsAreNamed) {
  TempDir dir;
  const Result empty = RunHost(
      dir, "export '" + kExamples + "orbit.tqs.json' --target Robot --start 50 --end 3 -o e.txt");
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "0 frames written (the start frame is after the end frame)\n");
  EXPECT_EQ(ReadFile(dir / "e.txt"), "");
  // The target reaches the camera's image plane (z = 0) at frame 2 of 0..2.
  tq::testing::WriteFile(dir / "plane.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 2}},
      {"type": "null", "name": "T", "translate": {"keys": [[0, [0, 0, -10]], [2, [0, 0, 0]]]}}]}})");
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
  tq::testing::WriteFile(dir / "behind.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 4}},
      {"type": "null", "name": "T", "translate": {"keys": [[0, [1, 0, -10]], [4, [1, 0, 10]]]}}]}})");
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
  tq::testing::WriteFile(dir / "two.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 4}},
      {"type": "null", "name": "T", "translate": {"keys": [[0, [1, 0, -10]], [4, [1, 0, 10]]]}},
      {"type": "null", "name": "U", "translate": {"keys": [[0, [1, 0, 5]], [4, [1, 0, -15]]]}}]}})");
  const Result two = RunHost(dir, "export two.tqs.json --all-targets -o '{target}.txt'");
  EXPECT_EQ(two.status, 0) << two.err;
  for (const char* warning : {"tqhost: T: warning: 2 of 5 frames: the target is behind the camera",
                              "tqhost: U: warning: 1 of 5 frames: the target is behind the camera"})
    EXPECT_NE(two.err.find(warning), std::string::npos) << two.err;
}

// Runs a shell script in dir, with tqhost as $HOST and the orbit example as
// $ORBIT; answers the exit status.
int RunScript(const TempDir& dir, const std::string& script) {
  const std::string command = "cd '" + dir.path().string() + "' && HOST='" + kHost + "' ORBIT='" +
                              kExamples + "orbit.tqs.json' timeout 60 bash -c '" + script + "'";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Memory running out mid-import (ulimit -v) ends the run with a message and
// nothing half-written, never an abort.
TEST(Tqhost, OutOfMemoryEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
  TempDir dir;
  const std::string shot = kExamples + "shot.gltf";
  EXPECT_EQ(RunScript(dir, "ulimit -v 100000; \"$HOST\" import \"" + shot +
                               "\" --fps 10000 -o x.tqs.json 2> err.txt"),
            1);
  EXPECT_NE(ReadFile(dir / "err.txt").find("not enough memory"), std::string::npos)
      << ReadFile(dir / "err.txt");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.tqs.json"));
  // Wherever memory runs out (while the scene is imported, written or read
  // back), the run ends with its message or succeeds; never an abort.
  EXPECT_EQ(RunScript(dir,
                      "for kb in $(seq 20000 10000 240000); do (ulimit -v $kb; \"$HOST\" "
                      "import \"" +
                          shot +
                          "\" --fps 10000 -o x.tqs.json 2> err.txt); "
                          "s=$?; rm -f x.tqs.json; if [ $s = 1 ] && grep -q \"not enough memory\" "
                          "err.txt || [ $s = 0 ]; then :; else echo $kb $s >> bad.txt; fi; done; "
                          "test ! -e bad.txt"),
            0)
      << ReadFile(dir / "bad.txt");
#endif
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
  tq::testing::WriteFile(dir / "two.tqs.json", R"({"format": "tq-scene", "version": 1,
    "project": {"fps": 24}, "chor": {"objects": [
      {"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 1}},
      {"type": "null", "name": "T", "translate": [1, 0, 5]},
      {"type": "null", "name": "U", "translate": [1, 0, 5]}]}})");  // behind: warnings
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

// A plug-in cut short is refused before it is mapped, not a crash.
TEST(Tqhost, TruncatedPluginIsRefused) {
  TempDir dir;
  tq::testing::WriteFile(dir / "cut.plg",
                         ReadFile(std::string(TQ_BIN_DIR) + "/tqmotion.plg").substr(0, 4096));
  const Result r = RunHost(dir, "--plugin cut.plg commands");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tqhost: cannot load the plug-in cut.plg: the file is truncated\n");
}

// A glTF shot straight to a track, worked by hand: the camera at the origin
// turns about Y from 0 to 90 degrees over a second (24 frames) while the null
// rises from (0, 0, -10) to (0, 5, -10); f = 35, 1920 x 1280, aspect 1.5.
//   frame 0:  the null on the axis: (960, 640).
//   frame 12: camera at 45 degrees, null at (0, 2.5, -10); in camera space
//             Y(-45) (0, 2.5, -10) = (7.071, 2.5, -7.071); d = 0.5 x -7.071
//             = -3.5355; X = 960 - (7.071 / -3.5355) x 960 = 2880;
//             Y = 640 - ((2.5 / -3.5355) x 1.5) x 640 = 640 + 678.8 -> 1319.
//   frame 24: camera at 90 degrees, the null in its image plane: saturated.
// Then the same scene imported to a scene file exports the same bytes.
TEST(Tqhost, GltfShotToTrackAndImportRoundTrip) {
  TempDir dir;
  tq::testing::GltfBuilder b = tq::testing::PanOverRisingNull();
  tq::testing::WriteFile(dir / "shot.bin", b.bin);
  tq::testing::WriteFile(dir / "shot.gltf", b.External("shot.bin"));

  const Result gltf = RunHost(dir, "export shot.gltf --target Target -o from-gltf.txt");
  ASSERT_EQ(gltf.status, 0) << gltf.err;
  EXPECT_EQ(gltf.out, "25 frames written to from-gltf.txt\n");
  const std::string track = ReadFile(dir / "from-gltf.txt");
  EXPECT_EQ(track.rfind("0\t960\t640\n", 0), 0u) << track;
  EXPECT_NE(track.find("\n12\t2880\t1319\n"), std::string::npos) << track;

  const Result import = RunHost(dir, "import shot.gltf -o shot.tqs.json");
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_EQ(import.out, "2 objects imported to shot.tqs.json\n");
  const Result scene = RunHost(dir, "export shot.tqs.json --target Target -o from-scene.txt");
  ASSERT_EQ(scene.status, 0) << scene.err;
  EXPECT_EQ(ReadFile(dir / "from-scene.txt"), track);
  // A GLB of the same shot, and the same shot at another rate.
  tq::testing::WriteFile(dir / "shot.glb", b.Glb());
  const Result glb = RunHost(dir, "export shot.glb --target Target -o from-glb.txt");
  ASSERT_EQ(glb.status, 0) << glb.err;
  EXPECT_EQ(ReadFile(dir / "from-glb.txt"), track);
  const Result fps = RunHost(dir, "export shot.gltf --fps 30 --target Target -o at30.txt");
  EXPECT_EQ(fps.out, "31 frames written to at30.txt\n");
}

// Three targets of the orbit example in one command, each with a nuke copy:
// one file a target named by the pattern, one summary line each and a final
// count; every track equals the one its own command writes, and every copy
// has the track's lines as "frame x y" (the orbit starts at frame 0).
TEST(Tqhost, ThreeTargetsWithNukeCopies) {
  TempDir dir;
  const std::string orbit = "'" + kExamples + "orbit.tqs.json'";
  const Result r = RunHost(dir, "export " + orbit +
                                    " --target Robot --target Key --target Robot:group-center:Roof"
                                    " -o '{target}-{mode}.txt' --also 'nuke:{target}-{mode}.nk'");
  ASSERT_EQ(r.status, 0) << r.err;
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

// convert reads the plug-in's track, csv and json, and writes nothing from
// a bad track.
TEST(Tqhost, ConvertAndItsRefusals) {
  TempDir dir;
  tq::testing::WriteFile(dir / "t.txt", "0\t100\t50\n1\t-3\t470\n");
  const Result csv = RunHost(dir, "convert t.txt --to csv -o t.csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(ReadFile(dir / "t.csv"), "frame,x,y\n0,100,50\n1,-3,470\n");
  const Result nuke = RunHost(dir, "convert t.csv --to nuke --first-frame 1001");
  EXPECT_EQ(nuke.out, "1001 100 50\n1002 -3 470\n");
  const Result ae = RunHost(dir, "convert t.txt --to ae -o t.ae");
  EXPECT_EQ(ae.status, 1);
  EXPECT_EQ(ae.err, "tqhost: t.txt: the ae format needs --fps\n");
  tq::testing::WriteFile(dir / "bad.txt", "0\t1\t2\nnot a line\n");
  const Result bad = RunHost(dir, "convert bad.txt --to csv -o bad.csv");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "tqhost: bad.txt: line 2 is not \"index<TAB>x<TAB>y\"\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "t.ae"));
  // Only what a track can be is read, and only values a track can hold.
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  tq::testing::WriteFile(dir / "nan.csv", "frame,x,y\nnan,1,2\n");
  tq::testing::WriteFile(dir / "huge.json",
                         R"({"width": 1e30, "height": 2, "fps": 24, "name": "n", "frames": []})");
  tq::testing::WriteFile(dir / "gap.csv", "frame,x,y\n0,1,2\n10,3,4\n");
  tq::testing::WriteFile(dir / "long.csv", "frame,x,y\n0,1,2\n1,3,9223372036854775808\n");
  const std::pair<std::string, std::string> refusals[] = {
      {"convert long.csv --to nuke",
       "tqhost: long.csv: line 3 has a value beyond a track's: X and Y are pixels from "
       "-2147483648 to 2147483647, with up to 6 decimals\n"},
      {"export scene.tqs.json --decimals 7",
       "tqhost: --decimals must be a whole number from 0 to 6, not '7'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals -1",
       "tqhost: --decimals must be a whole number from 0 to 6, not '-1'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals -0",
       "tqhost: --decimals must be a whole number from 0 to 6, not '-0'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals 2.0",
       "tqhost: --decimals must be a whole number from 0 to 6, not '2.0'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --distortion division:0.1,0",
       "tqhost: --distortion: the lens model 'division' is not known; brown is "
       "(brown:K1,K2[,P1,P2[,K3]])\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --distortion brown:1,2,3",
       "tqhost: --distortion must be brown:K1,K2, brown:K1,K2,P1,P2 or brown:K1,K2,P1,P2,K3, not "
       "'1,2,3'\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --pixel-aspect -2",
       "tqhost: --pixel-aspect must give a pixel aspect from 0.01 to 100, not '-2'\nTry 'tqhost "
       "export --help'.\n"},
      {"export scene.tqs.json --distortion brown:1e308,0",
       "tqhost: --distortion must give distortion coefficients from -1000 to 1000, not "
       "'brown:1e308,0'\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --film-offset 0.1,inf",
       "tqhost: --film-offset must be X,Y (fractions of the image's width), not '0.1,inf'\nTry "
       "'tqhost export --help'.\n"},
      {"convert gap.csv --to nuke",
       "tqhost: gap.csv: line 3 has the frame 10; a track's frames follow one another (expected "
       "1)\n"},
      {"convert /dev/zero --to nuke", "tqhost: /dev/zero: not a regular file (a device)\n"},
      {"convert folder --to nuke", "tqhost: folder: not a regular file (a folder)\n"},
      {"convert fifo --to nuke", "tqhost: fifo: not a regular file (a FIFO)\n"},
      {"convert nan.csv --to nuke", "tqhost: nan.csv: line 2 is not \"frame,x,y\"\n"},
      {"convert huge.json --to nuke",
       "tqhost: huge.json: not a track of the json format: width is not a whole number above 0\n"},
      {"convert t.txt --to ae --fps 0 --width 9 --height 9",
       "tqhost: --fps must be a number above 0, not '0'\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to ae --fps inf --width 9 --height 9",
       "tqhost: --fps must be a number above 0, not 'inf'\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to ae --fps 24 --width 1e10 --height 9",
       "tqhost: --width must be a whole number above 0\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to json --fps 24 --width 9 --height 0",
       "tqhost: --height must be a whole number above 0\nTry 'tqhost convert --help'.\n"},
  };
  for (const auto& [args, says] : refusals) {
    const Result r = RunHost(dir, args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_EQ(r.err, says) << args;
  }
}

}  // namespace
