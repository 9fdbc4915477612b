// The portable command-line front end.
#pragma once

namespace cli {
int Main(int argc, char** argv);
}
