// The safe names of PC files live in src/io (the dialog program writes them too); the
// command line keeps its names for them.
#pragma once

#include <string>
#include <string_view>

#include "io/path.h"
#include "io/safe_name.h"

namespace cli {

using io::SafeName;
using io::SafeNamer;

}  // namespace cli
