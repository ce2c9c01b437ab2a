// The scene file's reader, its JSON half: the walk through simdjson's
// On-Demand values with the path of where it stands, and the values of the
// format (objects with known keys, arrays, numbers, names) read or refused
// by that path. A refusal is thrown as a Fault and made a Result where the
// reader is called (Loader.cpp). For the scene reader only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "host/fileio/Concat.h"
#include "host/scene/JsonSyntax.h"
#include "host/scene/Loader.h"

namespace tq::scene::loading {

namespace od = simdjson::ondemand;
using od::json_type;

// How many elements to make room for before an array is read: its count
// (a pass over its tokens that parses nothing), at most a million whatever
// count a file claims; 0 when it cannot be counted (the walk then says why).
inline std::size_t RoomAhead(od::array& array) {
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
inline std::string Unreadable(simdjson::error_code error) {
  if (error == simdjson::STRING_ERROR)
    return "not valid JSON: a string escape that names no character (a lone surrogate such as "
           "\\ud800)";
  if (error == simdjson::UTF8_ERROR) return "not valid JSON: text that is not UTF-8";
  return std::string("not valid JSON: ") + simdjson::error_message(error);
}

// The raw text of a field's key, without its quotes (keys are compared as
// written; a key spelt with escapes is not one of the format's).
inline std::string_view RawKey(od::field& field) {
  const char* start = field.key().raw();
  const char* end = start;
  while (*end != '"') end += *end == '\\' ? 2 : 1;
  return {start, static_cast<std::size_t>(end - start)};
}

class JsonWalk {
 public:
  explicit JsonWalk(std::string_view text) : text_(text) {}

 protected:
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
    Enter(JsonWalk& r, std::string_view key) : r_(r) {
      r.path_.push_back({key, 0, false});
      r.CheckDepth();
    }
    Enter(JsonWalk& r, std::size_t index) : r_(r) {
      r.path_.push_back({{}, index, true});
      r.CheckDepth();
    }
    ~Enter() { r_.path_.pop_back(); }
    void Index(std::size_t i) { r_.path_.back().index = i; }
    Enter(const Enter&) = delete;
    Enter& operator=(const Enter&) = delete;

   private:
    JsonWalk& r_;
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

  std::string_view text_;
  std::vector<Step> path_;
  const char* where_ = nullptr;
  std::string_view unknownKey_;  // the key of the last "unknown key" refusal
};

}  // namespace tq::scene::loading
