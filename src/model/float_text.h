// A stored f32 as the shortest decimal text that reads back as it (0.3, not
// 0.300000011920929), set out as std::to_chars sets it, whatever the C locale says.
#pragma once

#include <string>

namespace model {

std::string ShortestText(float value);
// That text read as a double: the value a JSON number shows for the float.
double ShortestValue(float value);

// The same text made with printf and strtof alone, for a C++ library without
// floating-point to_chars (the browser build's). Its C locale is the only one there.
std::string ShortestTextByPrintf(float value);

}  // namespace model
