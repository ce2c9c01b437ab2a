// Where a text stops being JSON, in words, for the loader's messages. The
// scene loader's parser finds that a text is not JSON; this reading finds
// the first place that shows it, the way a person would count: line and
// column (from 1) of the character that cannot continue the text.
#pragma once

#include <string>
#include <string_view>

namespace tq::scene {

// "parse error at line L, column C: what was expected", or "" for a text
// that is one JSON value (with blanks around it).
std::string DescribeJsonSyntaxError(std::string_view text);

// The deepest nesting of arrays and objects in a JSON text, and the line at
// which it first goes deeper than limit (0 when it never does).
int LineNestingDeeperThan(std::string_view text, int limit);

}  // namespace tq::scene
