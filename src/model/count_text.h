// The decimal text of a count, a size or an offset, for the messages that name one
// ("the chain runs into cluster 12", "an RLE run of 40 literal pixels").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

inline std::string Num(std::uint64_t n) { return std::to_string(n); }

// "pages 12, 40 and 3 more": the noun, singular or plural, then the first eight numbers.
template <typename Number>
std::string NumberList(std::string_view one, std::string_view many, const std::vector<Number>& numbers) {
  constexpr std::size_t kShown = 8;
  std::string list(numbers.size() == 1 ? one : many);
  list += ' ';
  for (std::size_t i = 0; i < numbers.size() && i < kShown; ++i)
    list += (i == 0 ? "" : i + 1 == numbers.size() ? " and " : ", ") + Num(numbers[i]);
  if (numbers.size() > kShown) list += " and " + Num(numbers.size() - kShown) + " more";
  return list;
}

}  // namespace text
