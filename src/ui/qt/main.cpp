// moravelt on Linux (and wherever Qt 6 runs): the dialog program's Qt shell. Each file named
// on the command line opens in a window of its own, as a file manager's "Open with" asks
// (ui/start.h).
#include <QApplication>
#include <QIcon>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/qt/qt_main_window.h"
#include "ui/start.h"

namespace {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv + std::min(argc, 1), argv + argc}; }

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they need no display.
  const ui::CommandLine asked = ui::ReadCommandLine(Arguments(argc, argv));
  if (asked.action == ui::CommandLine::Action::kVersion) {
    std::printf("moravelt %s\n", MORAVELT_VERSION);
    return 0;
  }
  if (asked.action == ui::CommandLine::Action::kHelp) {
    const std::string usage = ui::Usage();
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("moravelt"));
  QApplication::setApplicationVersion(QStringLiteral(MORAVELT_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("moravelt"));
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/moravelt-%1.png").arg(size));
  QApplication::setWindowIcon(icon);

  // Qt has taken its own options out of argv by now.
  const ui::CommandLine line = ui::ReadCommandLine(Arguments(argc, argv));
  if (line.action != ui::CommandLine::Action::kOpen) {
    std::fprintf(stderr, "moravelt: unknown option %s\n%s", line.option.c_str(), ui::Usage().c_str());
    return 2;
  }
  qtui::OpenWindows(line.paths);
  return QApplication::exec();
}
