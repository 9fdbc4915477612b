// The card window's SD card commands: Split onto SD card... writes the card's saves onto
// the cards of their games on an emulator's SD card, Merge from SD card... brings every
// card's saves of an SD card onto this one. The sd layer does the work and words each
// line; these ask for the folder and the device and show its report.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/messages.h"
#include "io/folder.h"
#include "sd/merge.h"
#include "sd/messages.h"
#include "sd/split.h"
#include "ui/card_window.h"
#include "ui/texts.h"

namespace ui {

namespace {

// A report shows this many lines, then how many more there are.
constexpr std::size_t kReportLines = 30;

}  // namespace

std::vector<SplitTarget> SplitTargets() {
  return {{"sd2psx / sd2psXtd (MemoryCards)", sd::Layout::kSd2psx},
          {"MemCard PRO 2", sd::Layout::kMemcardPro2},
          {"Open PS2 Loader (VMC and CFG)", sd::Layout::kOpl}};
}

void CardWindow::ShowReport(std::string_view caption, const std::vector<std::string>& lines,
                            const std::string& summary, bool complete) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < kReportLines; ++i) text += lines[i] + "\n";
  if (lines.size() > kReportLines) text += "... and " + std::to_string(lines.size() - kReportLines) + " more\n";
  text += summary;
  view_.ShowMessage(text, std::string(caption), complete ? MessageIcon::kInformation : MessageIcon::kWarning);
}

void CardWindow::SplitCommand() {
  const std::vector<SplitTarget> targets = SplitTargets();
  ExportRequest request;
  for (const SplitTarget& t : targets) request.targets.push_back(t.label);
  request.folder = sdFolder_;
  request.caption = kSplitCaption;
  request.targetLabel = kSplitDeviceLabel;
  request.folderTitle = kSdFolderTitle;
  std::optional<ExportChoice> choice = AskFolderAndTarget(request);
  if (!choice) return;
  sdFolder_ = choice->folder;
  if (!io::IsFolder(choice->folder)) {
    Report({std::string(messages::kCannotWriteFile) + ": " + choice->folder});
    return;
  }
  sd::SplitOptions options;
  options.device = targets[static_cast<std::size_t>(choice->target)].device;
  const sd::SplitReport report = sd::Split(*card_, choice->folder, options);
  if (!report.failure.empty()) {
    Report({report.failure});
    return;
  }
  std::vector<std::string> lines;
  for (const sd::SplitLine& l : report.lines) lines.push_back(sd::messages::SplitLineText(l));
  ShowReport(kSplitCaption, lines, sd::messages::SplitSummary(report), report.Complete());
}

void CardWindow::MergeCommand() {
  std::optional<std::string> folder = platform_.ChooseFolder(std::string(kMergeFolderTitle));
  if (!folder) return;
  const sd::MergeReport report = sd::Merge(*folder, *card_, {});
  if (!report.failure.empty()) {
    Report({report.failure});
    return;
  }
  std::vector<std::string> lines;
  for (const sd::MergeLine& l : report.lines) {
    lines.push_back(sd::messages::MergeLineText(l));
    if (l.event == sd::MergeEvent::kReplaced) ReleaseShownSave(l.save);
  }
  ShowCard();
  ShowReport(kMergeCaption, lines, sd::messages::MergeSummary(report), report.Complete());
}

}  // namespace ui
