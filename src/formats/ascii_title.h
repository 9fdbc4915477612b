// The save's title as the ASCII text that ARMAX and CodeBreaker headers carry.
//
// icon.sys holds the title in Shift-JIS, in two lines: the 16-bit little-endian word at
// offset 6 is the byte offset within the title where the second line starts (0, or an
// offset at or past the title's end: one line). Each line is converted on its own
// (TitleToAscii) and the two are joined with a space between them unless the first line
// is empty or already ends in one; CodeBreaker devices write exactly this (the title of a
// two-line "KAIDO2" / "System Data" comes out "KAIDO2 System Data").
#pragma once

#include <cstddef>
#include <string>

class CSaveGame;

// The joined title, at most maxChars characters; empty when the save has no usable
// icon.sys (see ReadIconSys) or its title is empty.
std::string AsciiTitle(const CSaveGame& save, std::size_t maxChars);

// The text a header's title field gets: the joined title, or the folder name when there
// is none (some readers refuse an empty title). At most maxChars characters.
std::string HeaderTitle(const CSaveGame& save, std::size_t maxChars);
