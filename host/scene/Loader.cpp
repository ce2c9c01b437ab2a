// The scene loader streams the file through simdjson's On-Demand parser and
// fills the scene library directly: no document tree is built, and the JSON
// path of a value is put into words only when a refusal names it.
#include "host/scene/Loader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include <simdjson.h>

#include "math/Slowdown.h"

#include "host/fileio/Concat.h"
#include "host/fileio/InputFile.h"
#include "host/scene/JsonSyntax.h"
#include "host/scene/NameSet.h"

namespace tq::scene {
namespace {

namespace od = simdjson::ondemand;
using od::json_type;

// How many elements to make room for before an array is read: its count
// (a pass over its tokens that parses nothing), at most a million whatever
// count a file claims; 0 when it cannot be counted (the walk then says why).
std::size_t RoomAhead(od::array& array) {
  std::size_t count = 0;
  if (array.count_elements().get(count) != simdjson::SUCCESS) return 0;
  return std::min<std::size_t>(count, std::size_t{1} << 20);
}

struct Fault {
  std::string path;
  std::string what;
  const char* where = nullptr;  // the value at fault, in the text; null for none
};

// Why a text that is JSON by its grammar cannot be read.
std::string Unreadable(simdjson::error_code error) {
  if (error == simdjson::STRING_ERROR)
    return "not valid JSON: a string escape that names no character (a lone surrogate such as "
           "\\ud800)";
  if (error == simdjson::UTF8_ERROR) return "not valid JSON: text that is not UTF-8";
  return std::string("not valid JSON: ") + simdjson::error_message(error);
}

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

// The raw text of a field's key, without its quotes (keys are compared as
// written; a key spelt with escapes is not one of the format's).
std::string_view RawKey(od::field& field) {
  const char* start = field.key().raw();
  const char* end = start;
  while (*end != '"') end += *end == '\\' ? 2 : 1;
  return {start, static_cast<std::size_t>(end - start)};
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::unique_ptr<Scene> Read(od::document& doc) {
    json_type type = json_type::null;
    if (doc.type().get(type) != simdjson::SUCCESS) Syntax();
    if (type != json_type::object) Reject("(document)", "expected a scene object");
    od::object root;
    Check(doc.get_object().get(root));
    ReadTop(root);
    return std::move(scene_);
  }

 private:
  // --- where we are -------------------------------------------------------

  // One step of the JSON path: a key, or an index into an array.
  struct Step {
    std::string_view key;
    std::size_t index = 0;
    bool isIndex = false;
  };

  std::string PathText(std::string_view last = {}) const {
    std::string path;
    for (const Step& s : path_) {
      if (s.isIndex) {
        path += fileio::Concat({"[", std::to_string(s.index), "]"});
      } else {
        if (!path.empty()) path += '.';
        path += s.key;
      }
    }
    if (!last.empty()) {
      if (!path.empty()) path += '.';
      path += last;
    }
    return path;
  }

  // Enters a key or an array for the life of the object.
  class Enter {
   public:
    // A step is a level of nesting: a path longer than the most levels
    // allowed stops the walk (the refusal then names the deepest value).
    Enter(Reader& r, std::string_view key) : r_(r) {
      r.path_.push_back({key, 0, false});
      r.CheckDepth();
    }
    Enter(Reader& r, std::size_t index) : r_(r) {
      r.path_.push_back({{}, index, true});
      r.CheckDepth();
    }
    ~Enter() { r_.path_.pop_back(); }
    void Index(std::size_t i) { r_.path_.back().index = i; }
    Enter(const Enter&) = delete;
    Enter& operator=(const Enter&) = delete;

   private:
    Reader& r_;
  };

  void CheckDepth() const {
    if (path_.size() > static_cast<std::size_t>(kMaxNesting)) Reject(TooDeep());
  }
  static std::string TooDeep() {
    return "nested deeper than " + std::to_string(kMaxNesting) + " levels";
  }

  [[noreturn]] void Reject(std::string path, std::string what) const {
    throw Fault{std::move(path), std::move(what), where_};
  }
  [[noreturn]] void Reject(std::string what) const { Reject(PathText(), std::move(what)); }

  // A fault the parser found: the text is not JSON; described by its own
  // reading of the text.
  [[noreturn]] void Syntax(simdjson::error_code error = simdjson::TAPE_ERROR) const {
    std::string what = DescribeJsonSyntaxError(text_);
    if (!what.empty()) throw Fault{"(document)", "not valid JSON: " + what, nullptr};
    throw Fault{"(document)", Unreadable(error), where_};
  }
  // Before an object walked to its end is walked again: a value passed over
  // unread was never checked, and simdjson can run past the end of a text
  // that is not JSON when it rewinds (it reads through a null parser).
  void BeforeRewalk() const {
    if (std::string what = DescribeJsonSyntaxError(text_); !what.empty())
      throw Fault{"(document)", "not valid JSON: " + what, nullptr};
  }
  void Check(simdjson::error_code error) const {
    if (error != simdjson::SUCCESS) [[unlikely]]
      Refuse(error);
  }
  [[noreturn, gnu::noinline]] void Refuse(simdjson::error_code error) const {
    if (error == simdjson::NUMBER_ERROR && where_ != nullptr) {
      std::size_t n = 0;
      while (where_[n] != '\0' && std::strchr(",]} \t\r\n", where_[n]) == nullptr) ++n;
      Reject("(document)",
             "not valid JSON: number overflow parsing '" + std::string(where_, n) + "'");
    }
    Syntax(error);
  }

  // The value's kind, noting where it stands for messages.
  json_type TypeOf(od::value& v) {
    where_ = v.raw_json_token().data();
    json_type type = json_type::null;
    Check(v.type().get(type));
    return type;
  }

  // --- objects ------------------------------------------------------------

  static bool IsComment(std::string_view key) { return !key.empty() && key[0] == '_'; }
  // A comment is not read, but it is measured: nesting too deep is refused
  // wherever it is.
  void Comment(od::value& comment) {
    std::string_view raw;
    if (const json_type type = TypeOf(comment); type == json_type::array) {
      Check(Array(comment, "").raw_json().get(raw));
    } else if (type == json_type::object) {
      Check(Object(comment, "").raw_json().get(raw));
    }
    const int levels = kMaxNesting - static_cast<int>(path_.size());
    if (NestingDeeperThan(raw, levels).offset != std::string_view::npos) Reject(TooDeep());
  }

  // Visits every field of an object in file order, with the path entered:
  // keys starting with "_" are comments; any other key not in allowed, and a
  // key given twice, are refused.
  template <class Visit>
  void Fields(od::object& object, std::initializer_list<const char*> allowed, Visit&& visit) {
    // The keys met so far: the first few in place (an object of the format
    // has at most eleven), any more in a vector, so that reading an object
    // allocates nothing.
    std::string_view first[16];
    std::size_t count = 0;
    std::vector<std::string_view> more;
    for (auto result : object) {
      od::field field;
      Check(std::move(result).get(field));
      const std::string_view key = RawKey(field);
      Enter at(*this, key);
      where_ = field.key().raw() - 1;
      for (std::size_t i = 0; i < count; ++i) {
        if ((i < 16 ? first[i] : more[i - 16]) == key)
          Reject("expected each key once in an object");
      }
      if (count < 16) {
        first[count] = key;
      } else {
        more.push_back(key);
      }
      ++count;
      if (IsComment(key)) {
        Comment(field.value());
        continue;
      }
      bool known = false;
      for (const char* k : allowed) known = known || key == k;
      if (!known) {
        std::string list;
        for (const char* k : allowed) list += std::string(list.empty() ? "" : ", ") + k;
        unknownKey_ = key;
        Reject("unknown key (expected one of: " + list + ")");
      }
      visit(key, field.value());
    }
  }

  // (An object or an array is known by its first byte, as the parser knows it.)
  od::object Object(od::value& v, const char* expected) {
    where_ = v.raw_json_token().data();
    if (*where_ != '{') {
      TypeOf(v);  // a token that is not JSON is refused as such
      Reject(expected);
    }
    od::object o;
    Check(v.get_object().get(o));
    return o;
  }

  od::array Array(od::value& v, const char* expected) {
    where_ = v.raw_json_token().data();
    if (*where_ != '[') {
      TypeOf(v);
      Reject(expected);
    }
    od::array a;
    Check(v.get_array().get(a));
    return a;
  }

  // Visits each element of an array with its index entered.
  template <class Visit>
  std::size_t Elements(od::array& array, Visit&& visit) {
    Enter at(*this, std::size_t{0});
    std::size_t i = 0;
    for (auto result : array) {
      od::value element;
      Check(std::move(result).get(element));
      at.Index(i);
      visit(element, i);
      ++i;
    }
    return i;
  }

  // A field looked up ahead of the walk in file order (the walk then passes
  // over it again); resets the object.
  bool Lookup(od::object& object, const char* key, od::value& out) {
    const auto error = object.find_field_unordered(key).get(out);
    if (error == simdjson::NO_SUCH_FIELD) return false;
    Check(error);
    return true;
  }

  // --- values -------------------------------------------------------------

  // A finite number; read straight, and again the careful way, for the
  // message, when it is not one.
  [[gnu::always_inline]] double Number(od::value& v) {
    double d = 0.0;
    if (v.get_double().get(d) == simdjson::SUCCESS && std::isfinite(d)) [[likely]]
      return d;
    NotANumber(v);
  }
  [[noreturn, gnu::noinline]] void NotANumber(od::value& v) {
    double d = 0.0;
    if (TypeOf(v) != json_type::number) Reject("expected a number");
    Check(v.get_double().get(d));
    Reject("expected a finite number");
  }

  // A number within single precision, as a float.
  [[gnu::always_inline]] float Float(od::value& v) {
    double d = 0.0;
    if (v.get_double().get(d) == simdjson::SUCCESS &&
        std::fabs(d) <= std::numeric_limits<float>::max()) [[likely]]
      return static_cast<float>(d);
    NotAFloat(v);
  }
  [[noreturn, gnu::noinline]] void NotAFloat(od::value& v) {
    Number(v);
    Reject("expected a number within single precision");
  }

  int Integer(od::value& v, long long low, long long high) {
    int64_t fast = 0;
    if (v.get_int64().get(fast) == simdjson::SUCCESS && fast >= low && fast <= high) {
      return static_cast<int>(fast);
    }
    // The slow way, for the message.
    if (TypeOf(v) != json_type::number) Reject("expected an integer");
    od::number_type kind = od::number_type::floating_point_number;
    Check(v.get_number_type().get(kind));
    if (kind == od::number_type::floating_point_number) Reject("expected an integer");
    long long n = high + 1;  // beyond 64 bits: out of range
    if (kind == od::number_type::signed_integer) {
      int64_t value = 0;
      Check(v.get_int64().get(value));
      n = value;
    }
    if (n < low || n > high) {
      Reject("expected an integer from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<int>(n);
  }

  std::string_view String(od::value& v, const char* expected) {
    if (TypeOf(v) != json_type::string) Reject(expected);
    return Text(v);
  }

  // A string's text (v is a string): the file's own bytes when it holds no
  // escape, as nearly every name does, left for the walk to pass over; else
  // unescaped into the parser's buffer, whose first touch costs a page (a
  // huge page for a large file's buffer: 2 MB zeroed for a few names).
  std::string_view Text(od::value& v) {
    const std::string_view token = v.raw_json_token();
    const std::size_t end = token.find_first_of("\"\\", 1);
    if (end != std::string_view::npos && token[end] == '"') return token.substr(1, end - 1);
    std::string_view s;
    Check(v.get_string().get(s));
    return s;
  }

  std::string Name(od::value& v) {
    const std::string_view name = String(v, "expected a non-empty name");
    if (name.empty()) Reject("expected a non-empty name");
    if (name.size() > kMaxNameLength) {
      Reject("expected a name of at most " + std::to_string(kMaxNameLength) + " bytes");
    }
    // A control character (U+0000 cuts a C string short) would make a name
    // show as, and match, another.
    for (const char c : name) {
      if (static_cast<unsigned char>(c) < 0x20)
        Reject("expected a name without control characters (U+0000 to U+001F)");
    }
    return std::string(name);
  }

  Time Ticks(double frame) {
    const auto t = FramesToTicks(frame, fps_);
    if (!t) Reject("expected a frame whose tick time fits 32 bits");
    return *t;
  }

  Vector ReadVector(od::value& v) {
    od::array a = Array(v, "expected [x, y, z]");
    float c[3] = {};
    std::size_t n = 0;
    {
      Enter at(*this, std::size_t{0});
      for (auto result : a) {
        od::value e;
        Check(std::move(result).get(e));
        if (n < 3) {
          at.Index(n);
          c[n] = Float(e);
        }
        ++n;
      }
    }
    if (n != 3) Reject("expected [x, y, z]");
    return {c[0], c[1], c[2]};
  }

  Quaternion ReadRotation(od::value& v) {
    if (*v.raw_json_token().data() == '{') {
      where_ = v.raw_json_token().data();
      od::object o;
      Check(v.get_object().get(o));
      std::optional<Vector> e;
      Fields(o, {"euler"}, [&](std::string_view, od::value& value) { e = ReadVector(value); });
      if (!e) Reject(PathText("euler"), "missing");
      // Y(y) X(x) Z(z), degrees, the convention of the Euler decomposition.
      return YXRotateQ(e->y, e->x) * Quaternion(e->z / kDegreesPerRadianF, Vector(0, 0, 1));
    }
    const char* expected = "expected a rotation [x, y, z, w] or {\"euler\": [x, y, z]}";
    od::array a = Array(v, expected);
    double q[4] = {};
    const std::size_t n = Elements(a, [&](od::value& e, std::size_t i) {
      if (i < 4) q[i] = Float(e);
    });
    if (n != 4) Reject(expected);
    const auto unit = UnitRotation(q[0], q[1], q[2], q[3]);
    if (!unit) Reject("expected a rotation of non-zero length");
    return *unit;
  }

  float ReadValue(od::value& v, float*) { return Float(v); }
  Vector ReadValue(od::value& v, Vector*) { return ReadVector(v); }
  Quaternion ReadValue(od::value& v, Quaternion*) { return ReadRotation(v); }

  // A channel's value; with positive, a float must be above 0 (a focal length).
  template <class T>
  T ReadChannelValue(od::value& v, bool positive) {
    const T value = ReadValue(v, static_cast<T*>(nullptr));
    if constexpr (std::is_same_v<T, float>) {
      if (positive && !(value > 0.0f)) Reject("expected a number above 0");
    }
    return value;
  }

  // A constant, or {"interpolation": ..., "keys": [[frame, value], ...]}.
  template <class T>
  Channel<T> ReadChannel(od::value& v, bool positive = false) {
    if (TypeOf(v) != json_type::object) return Channel<T>(ReadChannelValue<T>(v, positive));
    od::object o;
    Check(v.get_object().get(o));
    Interpolation mode = Interpolation::kLinear;
    Keys<T> keys;
    bool hasKeys = false;
    const char* where = where_;
    unknownKey_ = {};
    try {
      Fields(o, {"interpolation", "keys"}, [&](std::string_view key, od::value& value) {
        if (key == "interpolation") {
          mode = ReadInterpolation(value);
        } else {
          hasKeys = true;
          keys = ReadKeys<T>(value, positive);
        }
      });
    } catch (const Fault& fault) {
      // An object whose walk stops at an "euler" field is a constant
      // rotation, read (or refused) as one from its start. (Looking for the
      // field first would pass over every key twice; a channel refused
      // before the walk reaches such a field is refused for what stopped it.)
      if (unknownKey_ != "euler" || fault.path != PathText("euler")) throw;
      Check(o.reset().error());
      where_ = where;
      if constexpr (std::is_same_v<T, Quaternion>) {
        return Channel<T>(ReadRotation(v));
      } else {
        return Channel<T>(ReadChannelValue<T>(v, positive));
      }
    }
    if (!hasKeys) Reject(PathText("keys"), "missing");
    return Channel<T>(mode, std::move(keys.times), std::move(keys.values));
  }

  Interpolation ReadInterpolation(od::value& v) {
    std::string_view name;
    if (TypeOf(v) == json_type::string) name = Text(v);
    if (name == "linear") return Interpolation::kLinear;
    if (name == "step") return Interpolation::kStep;
    if (name == "smooth") return Interpolation::kSmooth;
    Reject("expected \"linear\", \"step\" or \"smooth\"");
  }

  // A channel's keys: their times in order and their values.
  template <class T>
  struct Keys {
    std::vector<Time> times;
    std::vector<T> values;
  };

  template <class T>
  Keys<T> ReadKeys(od::value& v, bool positive) {
    od::array a = Array(v, "expected a non-empty array of keys");
    Keys<T> keys;
    double lastFrame = 0.0;
    const std::size_t n = Elements(a, [&](od::value& k, std::size_t i) {
      od::array pair = Array(k, "expected a key [frame, value]");
      std::size_t parts = 0;
      Elements(pair, [&](od::value& part, std::size_t j) {
        parts = j + 1;
        if (j == 0) {
          const double frame = Number(part);
          const Time t = Ticks(frame);
          if (i > 0 && !(frame > lastFrame && t > keys.times.back())) {
            Reject("expected a frame later than the previous key's (" + FrameText(lastFrame) +
                   "), at least one tick later");
          }
          lastFrame = frame;
          keys.times.push_back(t);
          keys.values.push_back(T{});
        } else if (j == 1) {
          keys.values.back() = ReadChannelValue<T>(part, positive);
        }
      });
      if (parts != 2) Reject("expected a key [frame, value]");
    });
    if (n == 0) Reject("expected a non-empty array of keys");
    // Grown by doubling as read (counting them first would pass over every
    // key twice), kept at their size.
    keys.times.shrink_to_fit();
    keys.values.shrink_to_fit();
    return keys;
  }

  // A frame as the loader names it in messages: the shortest text that reads
  // back, always with a decimal part.
  static std::string FrameText(double frame) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, frame).ptr;
    std::string s(text, end);
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
  }

  // --- the document -------------------------------------------------------

  void ReadTop(od::object& root) {
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

  void ReadVersion(od::value& v) {
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

  void ReadProject(od::object& project) {
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

  void ReadChor(od::object& chor) {
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

  // --- objects ------------------------------------------------------------

  void ReadObject(od::value& value) {
    od::object o = Object(value, "expected an object");
    od::value v;
    if (!Lookup(o, "type", v)) Reject(PathText("type"), "missing");
    std::string_view type;
    {
      Enter at(*this, "type");
      if (TypeOf(v) == json_type::string) type = Text(v);
    }
    const std::string kind(type);
    if (!Lookup(o, "name", v)) Reject(PathText("name"), "missing");
    std::string name;
    {
      Enter at(*this, "name");
      name = Name(v);
      if (names_.count(name) != 0) {
        // Quoted as a JSON string would have it.
        std::string quoted;
        for (const char c : name) {
          if (c == '"' || c == '\\') quoted += '\\';
          quoted += c;
        }
        Reject("expected a name not used before (\"" + quoted + "\" is)");
      }
    }
    Check(o.reset().error());
    if (kind == "folder") {
      Fields(o, {"type", "name"}, [](std::string_view, od::value&) {});
      names_.insert(scene_->AddFolder(name)->GetName());
      return;
    }
    HBone* object = nullptr;
    if (kind == "camera") {
      object = ReadCamera(o, name);
    } else if (kind == "model") {
      object = ReadModel(o, name);
    } else if (kind == "light" || kind == "null") {
      object = scene_->AddObject(name, kind == "light" ? ObjectType::kLight : ObjectType::kNull);
      Transform transform;
      Fields(o, {"type", "name", "translate", "rotate", "scale"},
             [&](std::string_view key, od::value& v2) { transform.Read(*this, key, v2); });
      transform.Apply(*scene_, object);
    } else {
      Enter at(*this, "type");
      Reject("expected \"model\", \"camera\", \"light\", \"null\" or \"folder\"");
    }
    names_.insert(object->GetName());
  }

  // The three transform channels, read wherever they stand.
  struct Transform {
    Channel<Vector> translate{Vector(0, 0, 0)};
    Channel<Quaternion> rotate{Quaternion()};
    Channel<Vector> scale{Vector(1, 1, 1)};

    bool Read(Reader& r, std::string_view key, od::value& v) {
      if (key == "translate") {
        translate = r.ReadChannel<Vector>(v);
      } else if (key == "rotate") {
        rotate = r.ReadChannel<Quaternion>(v);
      } else if (key == "scale") {
        scale = r.ReadChannel<Vector>(v);
      } else {
        return false;
      }
      return true;
    }
    void Apply(Scene& scene, HBone* object) {
      scene.SetTransform(object, std::move(translate), std::move(rotate), std::move(scale));
    }
  };

  HBone* ReadCamera(od::object& o, const std::string& name) {
    HCamera* camera = scene_->AddCamera(name);
    Transform transform;
    od::value v;
    // The output options come before the free properties, whatever the file's order.
    if (Lookup(o, "output", v)) {
      Enter at(*this, "output");
      ReadOutput(v, camera);
    }
    Check(o.reset().error());
    HPlate plate;
    Fields(o,
           {"type", "name", "translate", "rotate", "scale", "focalLength", "output", "properties",
            "filmOffset", "pixelAspect", "distortion"},
           [&](std::string_view key, od::value& value) {
             if (transform.Read(*this, key, value)) return;
             if (key == "focalLength")
               scene_->SetFocalLength(camera, ReadChannel<float>(value, true));
             if (key == "properties") ReadProperties(value, camera);
             if (key == "filmOffset") {
               od::array pair = Array(value, "expected [x, y]");
               double* xy[] = {&plate.offsetX, &plate.offsetY};
               if (Elements(pair, [&](od::value& v, std::size_t i) {
                     if (i < 2) *xy[i] = Number(v);
                   }) != 2)
                 Reject("expected [x, y]");
             }
             if (key == "pixelAspect") plate.pixelAspect = Number(value);
             if (key == "distortion") ReadDistortion(value, plate);
             // Each field as it is read, so that the refusal names it.
             if (const std::string why = plate.Unreal(); !why.empty()) Reject("expected " + why);
           });
    camera->SetPlate(plate);
    transform.Apply(*scene_, camera);
    return camera;
  }

  // {"model": "brown", "k1": ..., "k2": ..., "p1": ..., "p2": ..., "k3": ...}:
  // the coefficients each optional (0).
  void ReadDistortion(od::value& value, HPlate& plate) {
    od::object d = Object(value, "expected an object");
    bool model = false;
    Fields(d, {"model", "k1", "k2", "p1", "p2", "k3"}, [&](std::string_view key, od::value& v) {
      if (key == "model") {
        // Named as the file writes it, escapes and all.
        std::string_view written = v.raw_json_token();
        while (!written.empty() && std::isspace(static_cast<unsigned char>(written.back())))
          written.remove_suffix(1);
        if (String(v, "expected a model's name") != "brown")
          Reject("the lens model " + std::string(written) + " is not known; \"brown\" is");
        model = true;
      }
      for (const auto& [name, coefficient] : {std::pair{"k1", &plate.k1},
                                              {"k2", &plate.k2},
                                              {"p1", &plate.p1},
                                              {"p2", &plate.p2},
                                              {"k3", &plate.k3}})
        if (key == name) *coefficient = Number(v);
    });
    if (!model) Reject(PathText("model"), "missing");
  }

  void ReadOutput(od::value& value, HCamera* camera) {
    od::object output = Object(value, "expected an object");
    std::optional<int> size[2];
    std::optional<Time> range[2];
    Fields(output, {"width", "height", "startFrame", "endFrame"},
           [&](std::string_view key, od::value& v) {
             if (key == "width") size[0] = Integer(v, INT32_MIN, INT32_MAX);
             if (key == "height") size[1] = Integer(v, INT32_MIN, INT32_MAX);
             if (key == "startFrame") range[0] = Ticks(Number(v));
             if (key == "endFrame") range[1] = Ticks(Number(v));
           });
    HProperty* options = scene_->AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
    if (size[0] || size[1]) {
      HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
      if (size[0]) scene_->AddProperty(resolution, "Width", HProperty::Kind::kInt, *size[0]);
      if (size[1]) scene_->AddProperty(resolution, "Height", HProperty::Kind::kInt, *size[1]);
    }
    if (range[0] || range[1]) {
      HProperty* r = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
      if (range[0]) scene_->AddProperty(r, "StartFrame", HProperty::Kind::kTime, *range[0]);
      if (range[1]) scene_->AddProperty(r, "EndFrame", HProperty::Kind::kTime, *range[1]);
    }
  }

  void ReadProperties(od::value& value, HTreeObject* owner) {
    od::array list = Array(value, "expected an array of properties");
    Elements(list, [&](od::value& element, std::size_t) {
      od::object p = Object(element, "expected a property object");
      std::string name;
      std::optional<int> integer;
      std::optional<Time> time;
      bool hasName = false;
      Fields(p, {"name", "int", "time", "children"}, [&](std::string_view key, od::value& v) {
        if (key == "name") {
          name = Name(v);
          hasName = true;
        }
        if (key == "int") integer = Integer(v, INT32_MIN, INT32_MAX);
        if (key == "time") time = Ticks(Number(v));
      });
      if (!hasName) Reject(PathText("name"), "missing");
      if (integer && time) Reject("expected \"int\" or \"time\", not both");
      HProperty* property = integer
                                ? scene_->AddProperty(owner, name, HProperty::Kind::kInt, *integer)
                            : time ? scene_->AddProperty(owner, name, HProperty::Kind::kTime, *time)
                                   : scene_->AddProperty(owner, name, HProperty::Kind::kGroup);
      // Children after their parent, in file order.
      od::value children;
      Check(p.reset().error());
      if (Lookup(p, "children", children)) {
        Enter at(*this, "children");
        ReadProperties(children, property);
      }
    });
  }

  // --- models -------------------------------------------------------------

  HBone* ReadModel(od::object& o, const std::string& name) {
    HModel* model = scene_->AddModel(name);
    HModelCache* cache = model->GetCache();
    // Patches, heads and groups refer to the points: one that comes before
    // them in the file is read after them.
    bool pointsRead = false;
    std::vector<std::string_view> later;
    auto read = [&](std::string_view key, od::value& value) {
      if (key == "points") {
        od::array points = Array(value, "expected an array of [x, y, z]");
        Elements(points, [&](od::value& p, std::size_t) { cache->AddPoint(ReadVector(p)); });
        pointsRead = true;
      }
      if (key == "heads") ReadHeads(value, cache);
      if (key == "patches") ReadPatches(value, cache, 4);
      if (key == "patches5") ReadPatches(value, cache, 5);
      if (key == "groups") ReadGroups(value, model);
      if (key == "bones") ReadBones(value, model);
    };
    Transform transform;
    Fields(o,
           {"type", "name", "translate", "rotate", "scale", "points", "heads", "patches",
            "patches5", "groups", "bones"},
           [&](std::string_view key, od::value& value) {
             if (transform.Read(*this, key, value)) return;
             const bool needsPoints =
                 key == "heads" || key == "patches" || key == "patches5" || key == "groups";
             if (needsPoints && !pointsRead) {
               later.push_back(key);
               return;
             }
             read(key, value);
           });
    if (!later.empty()) {
      BeforeRewalk();
      od::value v;
      for (const char* key : {"points", "heads", "patches", "patches5", "groups"}) {
        const bool wanted = key == std::string_view("points")
                                ? !pointsRead
                                : std::find(later.begin(), later.end(), key) != later.end();
        if (!wanted) continue;
        Check(o.reset().error());
        if (!Lookup(o, key, v)) continue;
        Enter at(*this, key);
        read(key, v);
      }
    }
    transform.Apply(*scene_, model);
    return model;
  }

  std::size_t PointIndex(od::value& v, std::size_t count) {
    if (count == 0) {
      TypeOf(v);
      Reject("expected a control point index, but the model has no points");
    }
    return static_cast<std::size_t>(Integer(v, 0, static_cast<long long>(count) - 1));
  }

  void ReadPatches(od::value& value, HModelCache* cache, std::size_t corners) {
    const std::size_t n = cache->PointCount();
    od::array patches = Array(value, "expected an array of patches");
    const std::string expected = "expected " + std::to_string(corners) + " control point indices";
    Elements(patches, [&](od::value& patch, std::size_t) {
      od::array indices = Array(patch, expected.c_str());
      HCP* cp[5] = {};
      std::size_t count = 0;
      {
        Enter at(*this, std::size_t{0});
        for (auto result : indices) {
          od::value e;
          Check(std::move(result).get(e));
          if (count < corners) {
            // Read straight when it names a point there is; else read again
            // the careful way, for the message.
            std::uint64_t i = 0;
            if (e.get_uint64().get(i) != simdjson::SUCCESS || i >= n) {
              at.Index(count);
              i = PointIndex(e, n);
            }
            cp[count] = cache->Point(static_cast<std::size_t>(i));
          }
          ++count;
        }
      }
      if (count != corners) Reject(expected);
      if (corners == 4) {
        cache->AddPatch(cp[0], cp[1], cp[2], cp[3]);
      } else {
        cache->AddPatch5(cp[0], cp[1], cp[2], cp[3], cp[4]);
      }
    });
  }

  void ReadHeads(od::value& value, HModelCache* cache) {
    const std::size_t n = cache->PointCount();
    od::object heads = Object(value, "expected an object {\"point\": head}");
    constexpr std::size_t kNone = SIZE_MAX;
    std::vector<std::size_t> next(n, kNone);
    std::vector<bool> named(n, false);
    std::vector<std::string_view> comments;
    for (auto result : heads) {
      od::field field;
      Check(std::move(result).get(field));
      const std::string_view key = RawKey(field);
      Enter at(*this, key);
      where_ = field.key().raw() - 1;
      if (IsComment(key)) {
        if (std::find(comments.begin(), comments.end(), key) != comments.end())
          Reject("expected each key once in an object");
        comments.push_back(key);
        Comment(field.value());
        continue;
      }
      std::size_t point = 0;
      const bool digits = !key.empty() && key.size() < 10 &&
                          key.find_first_not_of("0123456789") == std::string_view::npos;
      if (digits) std::from_chars(key.data(), key.data() + key.size(), point);
      if (!digits || point >= n) {
        Reject("expected a key naming a control point index from 0 to " +
               std::to_string(n == 0 ? 0 : n - 1));
      }
      if (named[point]) Reject("expected each key once in an object");
      named[point] = true;
      const std::size_t head = PointIndex(field.value(), n);
      if (head != point) next[point] = head;  // a point that names itself is its own head
    }
    ResolveHeads(next, cache);
  }

  // Each chain resolves to its end, every point once: a walk stops at a
  // point already resolved, and a walk that meets itself is a cycle.
  void ResolveHeads(const std::vector<std::size_t>& next, HModelCache* cache) {
    constexpr std::size_t kNone = SIZE_MAX;
    enum : char { kOpen, kWalking, kResolved };
    const std::size_t n = next.size();
    std::vector<char> state(n, kOpen);
    std::vector<std::size_t> end(n);
    std::vector<std::size_t> chain;
    for (std::size_t start = 0; start < n; ++start) {
      chain.clear();
      std::size_t p = start;
      while (state[p] == kOpen && next[p] != kNone) {
        state[p] = kWalking;
        chain.push_back(p);
        p = next[p];
      }
      if (state[p] == kWalking) {
        where_ = nullptr;
        Reject(PathText(std::to_string(start)), "expected a chain of heads that ends, not a cycle");
      }
      const std::size_t last = state[p] == kResolved ? end[p] : p;
      for (const std::size_t q : chain) {
        state[q] = kResolved;
        end[q] = last;
        cache->Point(q)->SetHead(cache->Point(last));
      }
    }
  }

  void ReadGroups(od::value& value, HModel* model) {
    od::array groups = Array(value, "expected an array of groups");
    HGroupContainer* container = scene_->AddGroupContainer(model);
    const HModelCache* cache = model->GetCache();
    LaggingNameCheck names(RoomAhead(groups));
    const std::size_t depth = path_.size();
    auto refuse = [&](const std::optional<LaggingNameCheck::Read>& repeat) {
      if (!repeat) return;
      where_ = repeat->where;
      Reject(ElementPath(depth, repeat->index, "name"), "expected a group name not used before");
    };
    Elements(groups, [&](od::value& element, std::size_t index) {
      std::string name;
      bool hasName = false;
      const char* where = nullptr;
      std::string_view kept;
      try {
        kept = ReadGroup(element, cache, container, name, hasName, where);
      } catch (const Fault&) {
        // A fault in a group first finishes the checks before it, its own
        // group's too, so that the fault reported is the first in the file.
        refuse(names.Flush());
        if (hasName && names.Repeats(name)) refuse(LaggingNameCheck::Read{name, index, where});
        throw;
      }
      refuse(names.Add({kept, index, where}));
    });
    refuse(names.Flush());
  }

  // One group, added to the scene; answers its name as the scene keeps it.
  // name, hasName and where (its place in the text) are set once it is read.
  std::string_view ReadGroup(od::value& element, const HModelCache* cache,
                             HGroupContainer* container, std::string& name, bool& hasName,
                             const char*& where) {
    od::object g = Object(element, "expected a group object");
    std::optional<Vector> pivot;
    double sum[3] = {0, 0, 0};
    std::size_t count = 0;
    Fields(g, {"name", "points", "pivot"}, [&](std::string_view key, od::value& v) {
      if (key == "name") {
        name = Name(v);
        hasName = true;
        where = where_;
      } else if (key == "pivot") {
        pivot = ReadVector(v);
      } else {
        od::array points = Array(v, "expected an array of control point indices");
        Elements(points, [&](od::value& index, std::size_t) {
          const Vector p = cache->Point(PointIndex(index, cache->PointCount()))->GetModelPosition();
          sum[0] += p.x;
          sum[1] += p.y;
          sum[2] += p.z;
          ++count;
        });
      }
    });
    if (!hasName) Reject(PathText("name"), "missing");
    Vector center;
    if (pivot) {
      center = *pivot;
    } else if (count > 0) {
      const double c = static_cast<double>(count);
      center = Vector(static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                      static_cast<float>(sum[2] / c));
    }
    // The name kept, measured as read (a name holds no NUL).
    return {scene_->AddGroup(container, name, center)->GetName(), name.size()};
  }

  // The path of an element's field: the array at depth (path_'s length
  // there), its element index, its key.
  std::string ElementPath(std::size_t depth, std::size_t index, std::string_view key) {
    const std::vector<Step> inside(path_.begin() + static_cast<std::ptrdiff_t>(depth), path_.end());
    path_.resize(depth);
    path_.push_back({{}, index, true});
    std::string path = PathText(key);
    path_.resize(depth);
    path_.insert(path_.end(), inside.begin(), inside.end());
    return path;
  }

  void ReadBones(od::value& value, HModel* model) {
    od::array bones = Array(value, "expected an array of bones");
    HBoneContainer* container = scene_->AddBoneContainer(model);
    NameSet boneNames;
    boneNames.reserve(RoomAhead(bones));
    Elements(bones, [&](od::value& b, std::size_t) { ReadBone(b, container, nullptr, boneNames); });
  }

  void ReadBone(od::value& value, HBoneContainer* container, HBone* parent, NameSet& boneNames) {
    od::object b = Object(value, "expected a bone object");
    od::value v;
    // The bone is made from its name and pivot before its children.
    if (!Lookup(b, "name", v)) Reject(PathText("name"), "missing");
    std::string name;
    {
      Enter at(*this, "name");
      name = Name(v);
      if (boneNames.count(name) != 0) Reject("expected a bone name not used before in this model");
    }
    Vector pivot;
    Check(b.reset().error());
    if (Lookup(b, "pivot", v)) {
      Enter at(*this, "pivot");
      pivot = ReadVector(v);
    }
    HBone* bone = scene_->AddBone(container, parent, name, pivot);
    boneNames.insert(bone->GetName());
    Check(b.reset().error());
    Fields(b, {"name", "pivot", "children"}, [&](std::string_view key, od::value& v2) {
      if (key != "children") return;
      od::array children = Array(v2, "expected an array of bones");
      Elements(children,
               [&](od::value& child, std::size_t) { ReadBone(child, container, bone, boneNames); });
    });
  }

  std::string_view text_;
  std::vector<Step> path_;
  const char* where_ = nullptr;
  std::string_view unknownKey_;  // the key of the last "unknown key" refusal
  float fps_ = 0.0f;
  std::string projectName_ = "Project";
  Time projectTime_ = 0;
  std::unique_ptr<Scene> scene_;
  NameSet names_;
};

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

// The load, its text walked twice in the benchmarks' slowdown build when it
// holds more than 1 MB: a load whose cost per element doubles in a large
// file (see math/Slowdown.h), so that rows of many elements against files of
// a few show it.
LoadResult Walked(const simdjson::padded_string& text, const std::string& fileName) {
  if (kBenchSlowdown && text.size() > (std::size_t{1} << 20))
    return Twice([&] { return Load(text, fileName); });
  return Load(text, fileName);
}

}  // namespace

LoadResult LoadSceneText(const std::string& text, const std::string& fileName) {
  if (text.size() > kMaxSceneBytes) {
    return Fail(fileName + ": (document): expected at most " +
                std::to_string(kMaxSceneBytes >> 20) + " MiB");
  }
  return Walked(simdjson::padded_string(text), fileName);
}

LoadResult LoadSceneFile(const std::string& path) {
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
  return Walked(text, path);
}

}  // namespace tq::scene
