// Finding saves by a piece of their folder name or title, as a user types it: letter case
// does not matter, nor full-width against half-width forms ("siren" finds "Ｓｉｒｅｎ",
// "ｶﾞﾝﾀﾞﾑ" finds "ガンダム").
#pragma once

#include <string>
#include <string_view>

namespace sd {

// The UTF-8 text in the form searches compare: full-width ASCII and the ideographic space
// as ASCII, half-width katakana (with a following voiced or semi-voiced mark) as
// full-width, then ASCII letters in lower case. Bytes that are not UTF-8 stay as they are.
std::string SearchKey(std::string_view utf8);

// True when `text` holds `needle` in that form; an empty needle is found everywhere.
bool SearchMatches(std::string_view text, std::string_view needle);

}  // namespace sd
