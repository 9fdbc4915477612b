// moravelt on Linux (and wherever Qt 6 runs): the dialog program's Qt shell. Each file named
// on the command line opens in a window of its own, as a file manager's "Open with" asks.
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "io/folder.h"
#include "ui/qt/qt_main_window.h"

namespace {

constexpr const char* kUsage =
    "Usage: moravelt [FILE...]\n"
    "Opens each save (.psu .xps .sps .max .pws .cbs .psv), memory card image or PCSX2 folder\n"
    "card named in a window of its own; with no FILE, one empty window.\n"
    "  --version  print the version and exit\n"
    "  --help     print this text and exit\n";

// Paths as named; relative ones are taken from the folder the program started in.
std::string Absolute(const std::string& path) { return io::AbsolutePath(path); }

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("moravelt %s\n", MORAVELT_VERSION);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("moravelt"));
  QApplication::setApplicationVersion(QStringLiteral(MORAVELT_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("moravelt"));
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/moravelt-%1.png").arg(size));
  QApplication::setWindowIcon(icon);

  // Qt has taken its own options out of argv by now.
  std::vector<std::string> paths;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      std::fprintf(stderr, "moravelt: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else {
      paths.push_back(Absolute(argv[i]));
    }
  }
  qtui::OpenWindows(paths);
  return QApplication::exec();
}
