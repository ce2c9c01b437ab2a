// tqhost's option table: the parser's GNU habits, and the README's
// reference checked against the table.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/app/Formats.h"
#include "host/app/Modes.h"
#include "host/app/Options.h"

namespace {

using tq::app::ExportOptions;
using tq::app::GlobalOptions;
using tq::app::Option;
using tq::app::ParseArgs;
using tq::app::UsageError;

tq::app::ParsedArgs Parse(const std::vector<std::string>& args) {
  return ParseArgs(args, {&GlobalOptions(), &ExportOptions()});
}

TEST(Options, TakeWhatGnuToolsTake) {
  struct Row {
    std::vector<std::string> args;
    std::string option, value;
    std::vector<std::string> positional;
  } rows[] = {
      {{"export", "s.json", "--camera", "Cam"}, "--camera", "Cam", {"export", "s.json"}},
      {{"export", "--camera=Cam 2", "s.json"}, "--camera", "Cam 2", {"export", "s.json"}},
      {{"-ot.txt", "export", "s.json"}, "--output", "t.txt", {"export", "s.json"}},
      {{"export", "-o", "-", "s.json"}, "--output", "-", {"export", "s.json"}},
      {{"export", "--output=x", "s.json"}, "--output", "x", {"export", "s.json"}},
      {{"export", "--start", "-1", "--", "-s.json"}, "--start", "-1", {"export", "-s.json"}},
      {{"--version"}, "--version", "", {}},
      {{"-h", "export"}, "--help", "", {"export"}},
  };
  for (const Row& r : rows) {
    const auto parsed = Parse(r.args);
    EXPECT_EQ(parsed.Value(r.option, "(none)"), r.value) << r.args[0];
    EXPECT_EQ(parsed.positional, r.positional) << r.args[0];
  }
}

TEST(Options, MistakesAreUsageErrors) {
  struct Row {
    std::vector<std::string> args;
    std::string what;
  } rows[] = {
      {{"export", "--colour", "red"}, "unknown option --colour"},
      {{"export", "--camera"}, "--camera needs a value"},
      {{"export", "--camera="}, "--camera needs a value"},
      {{"export", "--camera", "A", "--camera=B"}, "--camera is given twice"},
      {{"export", "-o", "a", "--output", "b"}, "--output is given twice"},
      {{"--verbose=yes"}, "--verbose takes no value"},
      {{"-x"}, "unknown option -x"},
      {{"export", "--taget", "B"}, "unknown option --taget; did you mean --target?"},
      {{"export", "--ouptut", "b"}, "unknown option --ouptut; did you mean --output?"},
      {{"export", "--al"}, "unknown option --al"},
  };
  for (const Row& r : rows) {
    try {
      Parse(r.args);
      ADD_FAILURE() << r.what << ": no error";
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what, r.what);
    }
  }
}

// The help text lists every option with its value and its help's first words.
TEST(Options, HelpComesFromTheTable) {
  for (const auto* table : {&GlobalOptions(), &ExportOptions(), &tq::app::ImportOptions()}) {
    const std::string help = tq::app::OptionHelp(*table);
    for (const Option& option : *table) {
      EXPECT_NE(help.find("  " + tq::app::OptionUsage(option)), std::string::npos) << option.name;
      const std::string help5 = std::string(option.help).substr(0, 5);
      EXPECT_NE(help.find(help5), std::string::npos) << option.name;
    }
  }
}

// The README's reference names every option as the table writes it, and no
// option the table does not have.
TEST(Options, ReadmeReferenceMatchesTheTable) {
  std::ifstream in(TQ_SOURCE_DIR "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  // The reference section alone: other sections name options in passing.
  const std::string all = text.str();
  const auto start = all.find("## Command-line reference");
  ASSERT_NE(start, std::string::npos);
  std::string readme = all.substr(start, all.find("\n## ", start + 1) - start);
  // A | inside a table cell is written \|.
  for (std::size_t at; (at = readme.find("\\|")) != std::string::npos;) readme.erase(at, 1);
  std::vector<std::string> usages;
  for (const auto* table : {&GlobalOptions(), &ExportOptions(), &tq::app::ImportOptions(),
                            &tq::app::InfoOptions(), &tq::app::ConvertOptions()}) {
    for (const Option& option : *table) {
      usages.push_back(tq::app::OptionUsage(option));
      EXPECT_NE(readme.find("| `" + usages.back() + "`"), std::string::npos)
          << "README lacks the row of " << usages.back();
    }
  }
  std::istringstream lines(readme);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("| `-", 0) != 0) continue;
    const std::string usage = line.substr(3, line.find('`', 3) - 3);
    EXPECT_NE(std::find(usages.begin(), usages.end(), usage), usages.end())
        << "README names an option the table does not have: " << usage;
  }
  // Every format has its row in the formats table, with its first-frame rule.
  for (const tq::app::FormatInfo& f : tq::app::Formats()) {
    EXPECT_NE(all.find("| `" + std::string(f.name) + "` |"), std::string::npos)
        << "README lacks the row of the format " << f.name;
  }
}

// Each mode row is found by its name, its radio button and its part, and
// names a run the way the previews always have.
TEST(Modes, RowsAreFoundByNameRadioAndPart) {
  using tq::app::TargetMode;
  for (const TargetMode& m : tq::app::TargetModes()) {
    EXPECT_EQ(tq::app::FindMode(m.name), &m) << m.name;
    EXPECT_EQ(tq::app::ModeOfRadio(m.radio), &m) << m.name;
    if (m.part != nullptr) {
      EXPECT_EQ(tq::app::ModeOfPart(m.part), &m) << m.name;
    }
  }
  EXPECT_EQ(tq::app::FindMode("centre"), nullptr);
  const std::pair<const char*, const char*> labels[] = {{"origin", ""},
                                                        {"model-center", "model centre"},
                                                        {"group-center", "group R"},
                                                        {"bone", "bone R"}};
  for (const auto& [name, label] : labels)
    EXPECT_EQ(tq::app::ModeLabel(*tq::app::FindMode(name), "R"), label) << name;
  EXPECT_EQ(tq::app::ModeNames(", ", " or "), "origin, model-center, group-center or bone");
}

// The README's layout says how many formats and target modes the tables
// hold, where it says what a new one takes.
TEST(Options, ReadmeCountsTheFormatsAndModes) {
  std::ifstream in(TQ_SOURCE_DIR "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  for (char& c : all) c = c == '\n' ? ' ' : c;
  EXPECT_NE(all.find("holds " + std::to_string(tq::app::Formats().size()) + " formats"),
            std::string::npos);
  EXPECT_NE(all.find("holds " + std::to_string(tq::app::TargetModes().size()) + " modes"),
            std::string::npos);
}

}  // namespace
