// Text the tool writes from its inputs: ids come in as bytes (UTF-8 expected, never trusted),
// unlike the library's print forms, which are Latin-1 and transcoded by Output.
#pragma once

#include <string>
#include <string_view>

namespace qorv::tool {

// Valid UTF-8: each byte that does not start a well-formed sequence (overlong forms, surrogates
// and code points past U+10FFFF included) becomes U+FFFD.
std::string validUtf8(std::string_view text);
// Stored text of unknown encoding: kept when it is valid UTF-8, else read as Latin-1.
std::string utf8OrLatin1(std::string_view text);
// Columns a terminal gives valid UTF-8: combining marks 0, East Asian wide and full-width 2.
std::size_t displayWidth(std::string_view utf8);
// text padded with blanks to width columns, on the right (left-aligned) or on the left.
std::string padded(std::string_view utf8, std::size_t width, bool left);
// One RFC 4180 field: quoted when it holds a comma, a quote or a line end.
std::string csvField(std::string_view text);
// A JSON string literal, quotes included; invalid UTF-8 replaced.
std::string jsonString(std::string_view text);
// The shortest text that reads back as v; "nan", "inf", "-inf" for the others.
std::string shortest(double v);
// A JSON value for v: the number, or the string "nan", "inf", "-inf".
std::string jsonNumber(double v);
// v with `digits` decimals, as tables print it; shortest(v) when v is not finite.
std::string fixed(double v, int digits = 4);
// [x, y, z] as a JSON array of jsonNumber values.
std::string xyz(double x, double y, double z);
// The text std::to_chars(p, p + 32, v) writes, byte for byte, faster where Dragonbox is at
// hand; returns its end. p has kShortestRoom bytes of room: bytes past the text (at most 24)
// may be written over.
constexpr int kShortestRoom = 48;
char* toShortest(char* p, double v);
// The same texts appended to out, for writers of millions of values: no string per value.
void appendShortest(std::string& out, double v);
void appendJsonNumber(std::string& out, double v);
void appendJsonString(std::string& out, std::string_view text);

}  // namespace qorv::tool
