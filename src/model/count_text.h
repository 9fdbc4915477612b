// The decimal text of a count, a size or an offset, for the messages that name one
// ("the chain runs into cluster 12", "an RLE run of 40 literal pixels").
#pragma once

#include <cstdint>
#include <string>

namespace text {

inline std::string Num(std::uint64_t n) { return std::to_string(n); }

}  // namespace text
