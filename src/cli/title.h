// The save's full title (icon.sys's Shift-JIS title decoded to UTF-8, in its two lines)
// lives in src/model, beside the rest of icon.sys, so that the dialog program shows the
// same text; the command line keeps its names for it.
#pragma once

#include "model/icon_sys.h"

namespace cli {

using ::FullTitle;
using ::ReadFullTitle;

}  // namespace cli
