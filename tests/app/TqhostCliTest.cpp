// tqhost as a program: info and commands, refusals and exit status, the plug-in it loads, memory
// running out, and the dialog without a terminal it can draw on.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/fileio/TempDir.h"
#include "tests/app/Tqhost.h"

namespace {

using namespace tq::tqhost_test;

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
  // tqhost export of the orbit example with more arguments.
  const auto onOrbit = [&](const std::string& args) { return "export " + orbit + " " + args; };
  struct Row {
    std::string args;
    int status;
    std::string err;  // the start of standard error
  } rows[] = {
      // Mistakes in the user's words: the option, and the choices there are.
      {onOrbit("--camera Nope"), 1,
       "tqhost: unknown camera 'Nope'; the cameras are Camera1, Closeup\n"},
      {onOrbit("--target Nope"), 1,
       "tqhost: unknown target 'Nope'; the objects are Camera1, Closeup, Robot, Key, Marker\n"},
      {onOrbit("--target Robot --group Lid"), 1,
       "tqhost: unknown group 'Lid' of 'Robot'; its groups are Base, Roof\n"},
      {onOrbit("--target Robot --mode bone --bone Prop"), 1,
       "tqhost: unknown bone 'Prop' of 'Robot'; its bones are Root, Spine, Neck, Arm\n"},
      {onOrbit("--width 6000"), 1,
       "tqhost: --width 6000: Please enter an integer between 0 and 5000.\n"},
      {onOrbit("--start abc"), 1, "tqhost: --start abc: Please enter a number.\n"},
      {onOrbit("--target Key --mode model-center"), 1,
       "tqhost: --mode model-center: the target 'Key' offers origin\n"},
      // A missing folder is made; a file where the folder should be is the
      // plug-in's to refuse.
      {onOrbit("--target Robot -o t.txt/track.txt"), 1,
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
      {onOrbit("--mode middle"), 2,
       "tqhost: --mode must be origin, model-center, group-center or bone, not 'middle'\n"},
      {onOrbit("--width"), 2, "tqhost: --width needs a value\n"},
      {onOrbit("--colour red"), 2,
       "tqhost: unknown option --colour\nTry 'tqhost export --help'.\n"},
      {onOrbit("--corner-pin Robot,Key,Marker"), 2,
       "tqhost: --corner-pin takes four targets, BL,BR,TR,TL (bottom-left, bottom-right, "
       "top-right, top-left), not 'Robot,Key,Marker'\n"},
      {onOrbit("--corner-pin Robot,Key,Marker,Key"), 2,
       "tqhost: --corner-pin names 'Key' twice; a pin needs four different corners\n"},
      {onOrbit("--corner-pin Robot,Key,Marker,Key:origin -o '{target}'"), 2,
       "tqhost: --corner-pin names one target twice; a pin needs four different corners\n"},
      {onOrbit("--corner-pin A,B,C,D --pin-from last"), 2,
       "tqhost: --pin-from must be first-frame or image, not 'last'\n"},
      {onOrbit("--corner-pin A,B,C,D --target Robot"), 2,
       "tqhost: --corner-pin names its four targets; give no --target or --all-targets\n"},
      {onOrbit("--taget Robot"), 2,
       "tqhost: unknown option --taget; did you mean --target?\nTry 'tqhost export --help'.\n"},
      {onOrbit("--target Camera1"), 1,
       "tqhost: --target Camera1: The target is the camera itself. Choose another object.\n"},
      {onOrbit("--fps 25"), 2, "tqhost: --fps applies to glTF files; this scene runs at 30 fps\n"},
      {"--plugin '" + std::string(TQ_BIN_DIR) + "/nodialog.plg' export " + orbit, 1,
       "tqhost: the settings dialog could not be shown\n"},
      {"frobnicate", 2,
       "tqhost: unknown command 'frobnicate'; the commands are info, commands, export, dialog, "
       "import, convert\n"},
      {onOrbit("--target A --target B -o same.txt"), 2,
       "tqhost: with several targets, -o needs {target} in its pattern"},
      {onOrbit("--target Robot --target Key -o -"), 2,
       "tqhost: -o - writes one track; with several targets give -o PATTERN with {target}\n"},
      {onOrbit("--target Robot --also word:x.txt"), 2,
       "tqhost: --also takes FORMAT[:FILE], the format one of nuke, nuke-node, ae, shake, 3de, "
       "csv, json; "
       "not 'word:x.txt'\n"},
      {onOrbit("--target Robot -o - --also nuke"), 2,
       "tqhost: --also nuke is named after -o's file: give -o FILE, or --also nuke:FILE\n"},
      {"info " + orbit + " --camera Camera1", 2, "tqhost: --camera is not an option of info\n"},
      {onOrbit("--preview="), 2, "tqhost: --preview needs a value\n"},
      {onOrbit("--plate p.####.jpg --preview p.svg"), 2,
       "tqhost: --plate shows footage in an HTML preview: give --preview FILE.html\n"},
      {onOrbit("--preview p.HTML --plate a.#.b.#"), 2,
       "tqhost: --plate a.#.b.#: more than one frame field (#### or %04d)\n"},
      {onOrbit("--target=Robot -o"), 2, "tqhost: -o needs a value\n"},
      {onOrbit("--help=yes"), 2, "tqhost: --help takes no value\n"},
      {"", 2, "tqhost: no command given\n"},
      {onOrbit("--target Robot -o x.txt --also nuke:y.txt"), 2,
       "tqhost: -o and --also nuke both name y.txt; each output needs a file of its own\n"},
      {onOrbit("--target Robot -o /dev/fd/1 --also nuke:-"), 2,
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
      {onOrbit("--target Robot -o r.txt --also nuke:./r.txt"), 2,
       "tqhost: -o and --also nuke both name ./r.txt; each output needs a file of its own\n"},
      {onOrbit("-o ") + orbit, 2,
       "tqhost: -o " + kExamples + "orbit.tqs.json: that is the scene file\n"},
      {onOrbit("--target Robot --target Key --also nuke:n.txt"), 2,
       "tqhost: with several targets, --also needs {target} in its pattern\n"},
      {onOrbit("--target Robot --target Key --preview p.svg"), 2,
       "tqhost: with several targets, --preview needs {target} in its pattern\n"},
      {onOrbit("--target Robot --target Key -o '{{target}.txt'"), 2,
       "tqhost: with several targets, -o needs {target} in its pattern"},
      {onOrbit("-o '{foo}.txt'"), 2,
       "tqhost: -o {foo}.txt: unknown field {foo}; the fields are {target}, {camera}, {mode} and "
       "{group}\n"},
      {onOrbit("--jobs 0"), 2, "tqhost: --jobs 0: give a count of processes from 1 to 64\n"},
      {onOrbit("--jobs 2x"), 2, "tqhost: --jobs 2x: give a count of processes from 1 to 64\n"},
      {onOrbit("-o - --also nuke:-"), 2,
       "tqhost: -o and --also nuke both write to standard output; at most one output may go "
       "there\n"},
      // The preview's kind from its extension alone, its path checked first.
      {onOrbit("--target Robot -o r.txt --preview robot.png"), 2,
       "tqhost: --preview robot.png: a preview is FILE.svg (a picture) or FILE.html or FILE.htm "
       "(a page)\n"},
      {onOrbit("--target Robot -o r.txt --preview robot"), 2,
       "tqhost: --preview robot: a preview is FILE.svg"},
      {onOrbit("--target Robot -o r.txt --preview shots.svg"), 2,
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
  // back), the run ends with its message or succeeds; never an abort. The
  // shot again with a million numbers in its extras, whose tree must be
  // freed without allocating wherever its parse stops; with a million
  // samplers, whose tree tinygltf builds and frees itself, also when its
  // reading ends well (a million names of extensions used).
  std::string extras = ReadFile(shot), samplers = extras, used = extras, zeros, empties, names;
  for (int i = 0; i < 1000000; ++i) zeros += "0,", empties += "{},", names += "\"A\",";
  used.insert(1, "\"extensionsUsed\":[" + names + "\"A\"],");
  tq::testing::WriteFile(dir / "used.gltf", used);
  // And one that tinygltf refuses after reading it (an accessor without its
  // componentType): the refusal, or running out, wherever memory runs out.
  std::string refused = used;
  refused.insert(refused.find("\"accessors\":[") + 13, "{\"type\":\"SCALAR\",\"count\":1},");
  tq::testing::WriteFile(dir / "refused.gltf", refused);
  extras.insert(extras.find("\"asset\":{") + 9, "\"extras\":[" + zeros + "0],");
  tq::testing::WriteFile(dir / "extras.gltf", extras);
  samplers.insert(1, "\"samplers\":[" + empties + "{}],");
  tq::testing::WriteFile(dir / "samplers.gltf", samplers);
  // Each file over the limits where its reading runs out (a script's minute
  // each).
  const struct {
    std::string file, limits, refusal;
  } runs[] = {{shot, "20000 10000 240000", "not enough memory"},
              {"extras.gltf", "20000 10000 240000", "not enough memory"},
              {"samplers.gltf", "100000 20000 240000", "not enough memory"},
              {"used.gltf", "160000 10000 240000", "not enough memory"},
              {"refused.gltf", "200000 5000 260000", "not enough memory\\|componentType"}};
  for (const auto& run : runs) {
    EXPECT_EQ(RunScript(dir, "for kb in $(seq " + run.limits +
                                 "); do (ulimit -v $kb; \"$HOST\" import \"" + run.file +
                                 "\" --fps 10000 -o x.tqs.json 2> err.txt); "
                                 "s=$?; rm -f x.tqs.json; if [ $s = 1 ] && grep -q \"" +
                                 run.refusal +
                                 "\" err.txt || [ $s = 0 ]; then :; else echo $kb $s >> "
                                 "bad.txt; fi; done; test ! -e bad.txt"),
              0)
        << run.file << ": " << ReadFile(dir / "bad.txt");
    std::filesystem::remove(dir / "bad.txt");
  }
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

}  // namespace
