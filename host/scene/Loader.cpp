// The scene loader streams the file through simdjson's On-Demand parser and
// fills the scene library directly: no document tree is built, and the JSON
// path of a value is put into words only when a refusal names it.
#include "host/scene/Loader.h"

#include <filesystem>
#include <new>
#include <string_view>

#include <simdjson.h>

#include "math/Slowdown.h"

#include "host/fileio/Concat.h"
#include "host/fileio/InputFile.h"
#include "host/scene/JsonSyntax.h"
#include "host/scene/SceneReader.h"

namespace tq::scene {
namespace loading {

std::unique_ptr<Scene> Reader::Read(od::document& doc) {
  json_type type = json_type::null;
  if (doc.type().get(type) != simdjson::SUCCESS) Syntax();
  if (type != json_type::object) Reject("(document)", "expected a scene object");
  od::object root;
  Check(doc.get_object().get(root));
  ReadTop(root);
  return std::move(scene_);
}

void Reader::ReadTop(od::object& root) {
  // In file order; the choreography needs the project's rate, so one that
  // comes before the project is read after it.
  bool format = false, version = false, project = false, chor = false, chorLater = false;
  Fields(root, {"format", "version", "project", "chor"}, [&](std::string_view key, od::value& v) {
    if (key == "format") {
      format = true;
      if (TypeOf(v) != json_type::string || String(v, "") != "tq-scene")
        Reject("expected \"tq-scene\"");
    } else if (key == "version") {
      version = true;
      ReadVersion(v);
    } else if (key == "project") {
      project = true;
      od::object o = Object(v, "expected an object");
      ReadProject(o);
    } else {
      chor = true;
      chorLater = !project;
      if (chorLater) return;
      od::object o = Object(v, "expected an object");
      ReadChor(o);
    }
  });
  if (!format) Reject("format", "missing");
  if (!version) Reject("version", "missing");
  if (!project) Reject("project", "missing");
  if (!chor) Reject("chor", "missing");
  if (chorLater) {
    BeforeRewalk();
    od::value v;
    Check(root.reset().error());
    Lookup(root, "chor", v);
    {
      Enter at(*this, "chor");
      od::object o = Object(v, "expected an object");
      ReadChor(o);
    }
    // Passed over to the end again, so that what follows the scene
    // object is judged from its end.
    Check(root.reset().error());
    for (auto result : root) {
      od::field field;
      Check(std::move(result).get(field));
    }
  }
  scene_->Project()->SetTime(projectTime_);
}

void Reader::ReadVersion(od::value& v) {
  if (TypeOf(v) != json_type::number) Reject("expected the integer 1");
  od::number_type kind = od::number_type::floating_point_number;
  Check(v.get_number_type().get(kind));
  int64_t version = 0;
  if (kind != od::number_type::signed_integer || v.get_int64().get(version) != simdjson::SUCCESS)
    Reject("expected the integer 1");
  if (version != 1) {
    Reject("unsupported version " + std::to_string(version) + " (this loader reads version 1)");
  }
}

void Reader::ReadProject(od::object& project) {
  od::value v;
  if (!Lookup(project, "fps", v)) Reject(PathText("fps"), "missing");
  {
    Enter at(*this, "fps");
    // The rate is checked as the project keeps it, in single precision
    // (1e-300 is 0 there). A rate above one frame per tick cannot place its
    // frames on ticks.
    const double fps = static_cast<float>(Number(v));
    if (!IsFrameRate(fps)) Reject(fileio::Concat({"expected ", kFrameRateRule}));
    // Every time in the file becomes ticks at the rate the project answers,
    // the one the export uses, so that keys fall on the frames they name.
    fps_ = static_cast<float>(fps);
  }
  Check(project.reset().error());
  Fields(project, {"name", "fps", "time"}, [&](std::string_view key, od::value& value) {
    if (key == "name") projectName_ = Name(value);
    if (key == "time") projectTime_ = Ticks(Number(value));
  });
}

void Reader::ReadChor(od::object& chor) {
  Time time = 0;
  // Named where its name stands: looking the name up ahead would pass
  // over every object once more when it has none.
  scene_ = std::make_unique<Scene>(projectName_, fps_, "Chor1");
  bool hasObjects = false;
  Fields(chor, {"name", "time", "objects"}, [&](std::string_view key, od::value& value) {
    if (key == "name") {
      // Read where it stands, leaving the place noted at its key.
      const char* at = where_;
      scene_->NameChor(Name(value));
      where_ = at;
    }
    if (key == "time") time = Ticks(Number(value));
    if (key != "objects") return;
    hasObjects = true;
    od::array objects = Array(value, "expected an array of objects");
    Elements(objects, [&](od::value& o, std::size_t) { ReadObject(o); });
  });
  if (!hasObjects) Reject(PathText("objects"), "missing");
  scene_->Chor()->SetTime(time);
}

}  // namespace loading

namespace {

using loading::Fault;
using loading::Reader;
using loading::Unreadable;
namespace od = simdjson::ondemand;

// The line and column (from 1) of a position in the text.
std::string LineAndColumn(std::string_view text, const char* where) {
  if (where == nullptr || where < text.data() || where > text.data() + text.size()) return "";
  const std::size_t offset = static_cast<std::size_t>(where - text.data());
  std::size_t line = 1, lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return " (line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1) +
         ")";
}

// Why a text that failed is refused. A fault of the document as a whole
// comes first, as a reader of the whole text would see it: the first place
// that is not JSON; only then the fault the walk met.
Fault DocumentFault(std::string_view text, Fault walked) {
  if (std::string syntax = DescribeJsonSyntaxError(text); !syntax.empty())
    return {"(document)", "not valid JSON: " + syntax};
  return walked;
}

LoadResult Load(const simdjson::padded_string& text, const std::string& fileName) {
  const std::string_view view(text.data(), text.size());
  try {
    if (view.find_first_not_of(" \t\r\n") == std::string_view::npos) {
      throw Fault{"(document)", "the file is empty; expected a scene object"};
    }
    od::parser parser;
    od::document doc;
    if (const auto error = parser.iterate(text).get(doc); error != simdjson::SUCCESS) {
      if (error == simdjson::MEMALLOC) throw std::bad_alloc();  // no room for its index
      throw DocumentFault(view, {"(document)", Unreadable(error)});
    }
    try {
      std::unique_ptr<Scene> scene = Reader(view).Read(doc);
      // Nothing may follow the scene object.
      const char* more = nullptr;
      if (doc.current_location().get(more) == simdjson::SUCCESS) {
        throw Fault{"(document)", "not valid JSON"};
      }
      return scene;
    } catch (const Fault& fault) {
      throw DocumentFault(view, fault);
    }
  } catch (const Fault& found) {
    // Nesting too deep comes before any other fault, wherever it is (in a
    // comment too), named by the path of the value that goes too deep. The
    // walk reads at most that deep and measures the comments it skips, so
    // a text that loads is never measured twice; a refused one is, here.
    Fault fault = found;
    if (const DeepNesting deep = NestingDeeperThan(view, kMaxNesting);
        deep.offset != std::string_view::npos) {
      fault = Fault{deep.path, "nested deeper than " + std::to_string(kMaxNesting) + " levels",
                    view.data() + deep.offset};
    }
    return Fail(fileName + ": " + fault.path + ": " + fault.what +
                LineAndColumn(view, fault.where));
  } catch (const std::bad_alloc&) {
    return Fail(fileName + ": (document): not enough memory to read the file");
  }
}

// In the benchmarks' slowdown build a scene of more than 1 MB is read twice,
// all of it (the text's padded copy or the file read, the walk, the scene
// made): a load whose cost per element doubles in a large file (see
// math/Slowdown.h), so that rows of many elements against files of a few
// show it. The first scene is kept, so that the second is made in fresh
// memory (made again in what the first freed, it took no page faults), and
// the text is copied or read again (made once, its copy's page faults were
// not repeated): with either, the rows on 4 KiB pages rose 1.3x to 1.5x.
bool ReadTwice(std::size_t bytes) {
  return kBenchSlowdown && bytes > (std::size_t{1} << 20);
}

LoadResult TextLoaded(const std::string& text, const std::string& fileName) {
  if (text.size() > kMaxSceneBytes) {
    return Fail(fileName + ": (document): expected at most " +
                std::to_string(kMaxSceneBytes >> 20) + " MiB");
  }
  return Load(simdjson::padded_string(text), fileName);
}

LoadResult FileLoaded(const std::string& path) {
  // Opened once: its size and its bytes are the same file's, and a FIFO or a
  // device is refused, never waited on.
  const fileio::RegularFile file(path);
  if (!file.Error().empty()) return Fail(path + ": cannot read: " + file.Error());
  if (file.Size() > kMaxSceneBytes) {
    return Fail(path + ": (document): expected at most " + std::to_string(kMaxSceneBytes >> 20) +
                " MiB, the file has " + std::to_string(file.Size()) + " bytes");
  }
  // Read straight into the parser's padded buffer.
  simdjson::padded_string text(file.Size());
  if (text.data() == nullptr)
    return Fail(path + ": (document): not enough memory to read the file");
  if (const std::string error = file.ReadAll(text.data()); !error.empty())
    return Fail(path + ": cannot read: " + error);
  return Load(text, path);
}

}  // namespace

LoadResult LoadSceneText(const std::string& text, const std::string& fileName) {
  if (ReadTwice(text.size())) return TwiceInFreshMemory([&] { return TextLoaded(text, fileName); });
  return TextLoaded(text, fileName);
}

LoadResult LoadSceneFile(const std::string& path) {
  if constexpr (kBenchSlowdown) {
    std::error_code error;
    if (ReadTwice(static_cast<std::size_t>(std::filesystem::file_size(path, error))))
      return TwiceInFreshMemory([&] { return FileLoaded(path); });
  }
  return FileLoaded(path);
}

}  // namespace tq::scene
