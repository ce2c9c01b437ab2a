// The writers and readers behind the rows of Formats(), one pair a format,
// and the pieces of Nuke's script syntax that the corner pin shares.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "host/app/Formats.h"

namespace tq::app::io {

// The frame of line index: the first frame when given, else the start
// frame, plus index.
double FrameOf(const TrackInfo& info, int index);
// A rate as a number that prints as the shortest text of its float (23.976,
// not 23.97599983215332).
double RateValue(double fps);

using Writer = void(std::ostream& out, const std::vector<TrackPoint>& points,
                    const TrackInfo& info);
Writer WriteNuke, WriteNukeNode, WriteAe, WriteShake, Write3de, WriteCsv, WriteJson;
// One point of a 3de file: its name, colour, frame count and rows.
Writer Write3dePoint;
// The opening of After Effects keyframe data, up to its first property.
void WriteAeHeader(std::ostream& out, const TrackInfo& info);

using Reader = Result<Track>(const std::string& text, TrackInfo info);
Reader ReadNuke, ReadNukeNode, ReadAe, ReadShake, Read3de, ReadCsv, ReadJson;
bool LooksLikeNuke(const std::string& text);
bool LooksLikeNukeNode(const std::string& text);
bool LooksLikeAe(const std::string& text);
bool LooksLikeShake(const std::string& text);
bool LooksLike3de(const std::string& text);
bool LooksLikeCsv(const std::string& text);
bool LooksLikeJson(const std::string& text);

// Reads a pixel value at s: "-"?, digits, and "." with 1 or more digits or
// nothing. Answers the end of the value, or null when there is none; sets
// beyond (and leaves it set) when it has more than 6 decimals or lies
// outside -(most + 1) to most pixels (its fraction included); by default the
// 32-bit range the plug-in writes.
const char* ReadPixel(const char* s, const char* end, std::int64_t& value, int& decimals,
                      bool& beyond, std::uint64_t most = 2147483647u);

// Why a corner pin is not read as a track: it holds four.
std::string CornerPinRefused(const char* what);

// Nuke's script syntax (Tcl words): an animated value as a curve, "{curve
// x1001 194.25 210.5}", a key a frame from the first (written with "x" and
// its frame; the others follow it frame by frame), each value with its
// decimals.
void WriteNukeCurve(std::ostream& out, double firstFrame, const std::vector<std::int64_t>& values,
                    int decimals);
// A text as one quoted Tcl word: "\", '"', '$', '[', ']', '{' and '}' escaped
// so that Nuke reads it as it is and substitutes nothing; control characters
// as \n, \t or \ooo.
std::string NukeQuoted(const std::string& text);
// A node name Nuke takes: letters, digits and '_' (anything else '_'), not
// starting with a digit.
std::string NukeNodeName(const std::string& prefix, const std::string& name);

}  // namespace tq::app::io
