// Where a text stops being JSON, in words, for the loader's messages. The
// scene loader's parser finds that a text is not JSON; this reading finds
// the first place that shows it, the way a person would count: line and
// column (from 1) of the character that cannot continue the text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tq::scene {

// "parse error at line L, column C: what was expected", or "" for a text
// that is one JSON value (with blanks around it).
std::string DescribeJsonSyntaxError(std::string_view text);

// Where a JSON text first nests deeper than limit arrays and objects: the
// offset of the '[' or '{' that opens the level past limit (npos when none)
// and the JSON path of the value it opens, its middle elided when long
// ("chor.objects[0].bones[0]...children[0].children"). Brackets in strings do
// not count; the text need not be valid JSON. One pass over the text; the
// path is read only when there is one to name.
struct DeepNesting {
  std::size_t offset = std::string_view::npos;
  std::string path;
};
DeepNesting NestingDeeperThan(std::string_view text, int limit);

// The strings (quotes included) that begin with prefix and are the values of
// key in the objects of the array at the top object's key list: for
// instance every images[i].uri that is a data: URI. Only closed strings of
// printable ASCII with no escape but \" \\ \/ \b \f \n \r \t, which are
// JSON as they stand. One pass that copies nothing; keys written with escapes are
// not recognised, and the text need not be valid JSON (the spans are then
// whatever the pass found).
struct TextSpan {
  std::size_t offset = 0, length = 0;
};
std::vector<TextSpan> ListMemberStrings(std::string_view text, std::string_view list,
                                        std::string_view key, std::string_view prefix);

}  // namespace tq::scene
