// sd ls, find, split, merge and check: the SD card of a memory-card emulator (sd2psx,
// MemCard PRO 2, Open PS2 Loader's VMC folder, or a PCSX2 memcards folder) as a whole.
#include <nlohmann/json.hpp>

#include "card/card_messages.h"
#include "card/card_size.h"
#include "cli/card_command.h"
#include "sd/messages.h"
#include "sd/split.h"
#include "sd/merge.h"
#include "sd/survey.h"

namespace cli {

namespace {

struct SdListOptions {
  std::string root;
  bool json = false;
};

struct SdFindOptions {
  std::string root;
  std::string text;
};

struct SdSplitOptions {
  std::string card;
  std::string root;
  std::string layout = "sd2psx";
  std::string system = "copy";
};

struct SdMergeOptions {
  std::string root;
  std::string card;
  std::string game;
  bool ps1 = false;
};

std::string ChannelText(const sd::FoundCard& c) {
  if (c.channel == 0) return "";
  return c.channelName.empty() ? std::to_string(c.channel) : std::to_string(c.channel) + " (" + DisplayText(c.channelName) + ")";
}

std::string FreeText(const sd::CardSurvey& s) {
  return s.ps1 ? card::messages::BlocksText(s.freeBlocks) : card::messages::KilobytesText(s.freeKB);
}

// The card's folder; for POPStarter the game's name, its disc's ID and the other games that
// share the card.
std::string FolderText(const sd::FoundCard& c) {
  std::string text = DisplayText(c.folder);
  if (!c.gameId.empty()) text += " (" + DisplayText(c.gameId) + ")";
  for (std::size_t i = 0; i < c.sharedBy.size(); ++i) text += (i == 0 ? "; also " : ", ") + DisplayText(c.sharedBy[i]);
  return text;
}

// What is wrong with a card, or empty.
std::string StateText(const sd::CardSurvey& s) {
  if (!s.opened) return "not read: " + DisplayText(s.failure);
  if (!s.refusal.empty()) return "refused: " + DisplayText(s.refusal);
  if (s.damaged) return "damaged (sd check says what)";
  if (!s.place.redirectedTo.empty()) return "not used: VMCDIR.TXT sends the game to " + DisplayText(s.place.redirectedTo);
  return "";
}

void PrintSurveyJson(const std::string& root, const sd::Survey& survey, Console& console) {
  nlohmann::ordered_json j;
  j["root"] = ExactText(root);
  nlohmann::ordered_json cards = nlohmann::ordered_json::array();
  for (const sd::CardSurvey& s : survey.cards) {
    nlohmann::ordered_json one;
    one["card"] = ExactText(s.place.relative);
    one["console"] = std::string(sd::ConsoleName(s.place.console));
    one["layout"] = std::string(sd::LayoutName(s.place.layout));
    one["folder"] = ExactText(s.place.folder);
    one["channel"] = s.place.channel;
    one["channel_name"] = ExactText(s.place.channelName);
    if (s.place.layout == sd::Layout::kPops) {
      one["game_id"] = ExactText(s.place.gameId);
      nlohmann::ordered_json shared = nlohmann::ordered_json::array();
      for (const std::string& game : s.place.sharedBy) shared.push_back(ExactText(game));
      one["shared_by"] = std::move(shared);
      one["redirected_to"] = ExactText(s.place.redirectedTo);
    }
    one["bytes"] = s.fileBytes;
    one["readable"] = s.opened;
    one["size_mb"] = s.megabytes;
    one["ecc"] = s.ecc;
    one["saves"] = s.saves;
    one["free_kb"] = s.freeKB;
    if (s.ps1) one["free_blocks"] = s.freeBlocks;
    one["damaged"] = s.damaged;
    one["problem"] = ExactText(s.failure);
    one["refused"] = ExactText(s.refusal);
    cards.push_back(std::move(one));
  }
  j["cards"] = std::move(cards);
  j["truncated"] = survey.truncated;
  console.out << j.dump(2, ' ', true) << '\n';
}

void PrintSurveyText(const sd::Survey& survey, Console& console) {
  if (survey.cards.empty()) {
    console.out << "No cards\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"Card", "Console", "Device", "Folder", "Ch", "Size", "Saves", "Free", "State"}};
  for (const sd::CardSurvey& s : survey.cards) {
    const bool open = s.opened;
    rows.push_back({DisplayText(s.place.relative), std::string(sd::ConsoleName(s.place.console)),
                    std::string(sd::LayoutName(s.place.layout)), FolderText(s.place), ChannelText(s.place),
                    open ? card::SizeText({s.megabytes, s.ecc, s.fileBytes == 0, s.ps1}) : "",
                    open ? std::to_string(s.saves) : "", open ? FreeText(s) : "",
                    StateText(s)});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
    line.erase(line.find_last_not_of(' ') + 1);
    console.out << line << '\n';
  }
}

int RunSdList(const SdListOptions& o, Console& console) {
  const sd::Survey survey = sd::SurveyCards(o.root);
  if (o.json)
    PrintSurveyJson(o.root, survey, console);
  else
    PrintSurveyText(survey, console);
  if (survey.truncated) console.Note("note: the folder holds more than " + std::to_string(sd::kMaxEntries) + " names; the rest was not looked at");
  return kExitOk;
}

int RunSdFind(const SdFindOptions& o, Console& console) {
  const sd::SearchResult result = sd::FindSaves(o.root, o.text);
  for (const sd::FoundSave& s : result.saves)
    console.out << DisplayText(s.card) << ": " << DisplayText(s.folder) << (s.title.empty() ? "" : "  " + DisplayText(s.title)) << '\n';
  for (const std::string& card : result.unreadable) console.Note("not searched: " + DisplayText(card));
  return result.saves.empty() ? kExitFailed : kExitOk;
}

int RunSdCheck(const std::string& root, Console& console) {
  const sd::TreeFindings tree = sd::CheckTree(root);
  const std::vector<sd::CardFindings>& all = tree.cards;
  int troubled = 0;
  for (const sd::CardFindings& f : all) {
    const std::string card = DisplayText(f.place.relative);
    if (f.issues.empty() && f.refusal.empty()) console.out << card << ": No problems found\n";
    for (const card::Issue& i : f.issues) console.out << card << ": " << DisplayText(card::messages::IssueLine(i)) << '\n';
    if (!f.refusal.empty()) console.out << card << ": " << sd::LayoutName(f.place.layout) << " refuses it: " << DisplayText(f.refusal) << '\n';
    if (!f.Clean()) ++troubled;
  }
  for (const sd::PopsFinding& r : tree.redirects)
    console.out << DisplayText(r.file) << ": not followed: " << DisplayText(r.problem) << '\n';
  console.out << all.size() << (all.size() == 1 ? " card" : " cards") << " checked, " << troubled
              << " with problems";
  if (!tree.redirects.empty())
    console.out << "; " << tree.redirects.size() << " VMCDIR.TXT " << (tree.redirects.size() == 1 ? "file" : "files") << " not followed";
  console.out << '\n';
  return tree.Clean() ? kExitOk : kExitFailed;
}

// A split or merge report: its lines, its summary, exit 1 when a save went nowhere.
template <typename Report, typename LineText, typename Summary>
int PrintReport(const Report& report, LineText lineText, Summary summary, Console& console) {
  if (!report.failure.empty()) {
    console.Error(report.failure);
    return kExitFailed;
  }
  for (const auto& l : report.lines) console.out << DisplayText(lineText(l)) << '\n';
  console.out << summary(report) << '\n';
  return report.Complete() ? kExitOk : kExitFailed;
}

int RunSdSplit(const SdSplitOptions& o, Console& console) {
  sd::SplitOptions options;
  options.device = o.layout == "opl"    ? sd::Layout::kOpl
                   : o.layout == "mcp2" ? sd::Layout::kMemcardPro2
                   : o.layout == "pops" ? sd::Layout::kPops
                                        : sd::Layout::kSd2psx;
  options.system = o.system == "skip" ? sd::SystemFolders::kSkip : sd::SystemFolders::kCopy;
  return PrintReport(sd::SplitCardFile(o.card, o.root, options), sd::messages::SplitLineText,
                     sd::messages::SplitSummary, console);
}

int RunSdMerge(const SdMergeOptions& o, Console& console) {
  sd::MergeOptions options;
  options.game = o.game;
  options.ps1 = o.ps1;
  return PrintReport(sd::MergeIntoFile(o.root, o.card, options), sd::messages::MergeLineText,
                     sd::messages::MergeSummary, console);
}

// ROOT, the SD card's folder, which must be there.
void AddRoot(CLI::App* cmd, std::string& root, const std::string& help = "The SD card's folder") {
  cmd->add_option("ROOT", root, help)->required()->check(CLI::ExistingDirectory);
}

}  // namespace

void AddSdCommands(CLI::App& app, Commands& commands) {
  CLI::App* sdCmd = app.add_subcommand("sd", "The SD card of a memory-card emulator: list, find, split, merge, check");
  sdCmd->require_subcommand(1);
  sdCmd->footer(
      "ROOT is the folder of an SD card, or of a copy of one. Cards are found in the layouts of\n"
      "sd2psx and sd2psXtd (MemoryCards/PS2|PS1/<Folder>/<Folder>-<ch>.mcd), MemCard PRO 2 and\n"
      "MemCard PRO (<ID>/<ID>-<ch>.mc2|.mcd), Open PS2 Loader (VMC/*.bin), PCSX2 (*.ps2 and\n"
      "folder cards) and POPStarter (POPS/<game>/SLOT0.VMC and SLOT1.VMC, also POPS0..POPS9 and\n"
      "__common/POPS; VMCDIR.TXT honoured). A .bin beside sd2psx cards is a screen image, not a card.\n" +
      ChangesCardNote() +
      "Examples:\n"
      "  moravelt-cli sd ls /media/sd\n"
      "  moravelt-cli sd split Mcd001.ps2 /media/sd\n"
      "  moravelt-cli sd merge /media/sd all.ps2");

  auto list = std::make_shared<SdListOptions>();
  CLI::App* listCmd = sdCmd->add_subcommand("ls", "List every card on the SD card");
  AddRoot(listCmd, list->root);
  listCmd->add_flag("--json", list->json, "Print one JSON object");
  listCmd->footer("Each card: its console, device, game folder, channel (and its name), size, saves, free space,\n"
                  "and what is wrong with it: not readable, damaged, or refused by its device. A POPStarter\n"
                  "card's folder is its game's, with the ID read from the game's .VCD beside it.");
  commands.push_back({listCmd, [list](Console& console) { return RunSdList(*list, console); }});

  auto find = std::make_shared<SdFindOptions>();
  CLI::App* findCmd = sdCmd->add_subcommand("find", "Find the saves whose folder name or title holds TEXT");
  AddRoot(findCmd, find->root);
  findCmd->add_option("TEXT", find->text, "What to look for")->required();
  findCmd->footer("Letter case and full-width or half-width forms don't matter (\"siren\" finds a title\n"
                  "written in full-width letters). Exit status 1 when nothing is found.\n"
                  "Example:\n  moravelt-cli sd find /media/sd kingdom");
  commands.push_back({findCmd, [find](Console& console) { return RunSdFind(*find, console); }});

  auto split = std::make_shared<SdSplitOptions>();
  CLI::App* splitCmd = sdCmd->add_subcommand("split", "Put each save of CARD on its game's card on the SD card");
  splitCmd->add_option("CARD", split->card, "The card to split; it is only read")->required();
  AddRoot(splitCmd, split->root);
  splitCmd->add_option("--layout", split->layout, "sd2psx (default), mcp2, opl or pops")
      ->check(CLI::IsMember({"sd2psx", "mcp2", "opl", "pops"}));
  splitCmd->add_option("--system", split->system, "System folders (BADATA-SYSTEM, BWNETCNF): copy (to every game card; default) or skip")
      ->check(CLI::IsMember({"copy", "skip"}));
  splitCmd->footer(
      "A save goes to channel 1 of its game's card; when that card holds a save of that name\n"
      "already, is full, or is a file its device refuses, to the next channel, up to 8 (Open PS2\n"
      "Loader: 2 slots). Missing cards are made at 8 MB without ECC. Saves of no game go to\n"
      "UNSORTED. Game2Folder.ini is honoured; Open PS2 Loader's CFG files get their $VMC_ line.\n"
      "A PS1 card's saves go to 128 KB cards under MemoryCards/PS1 (sd2psx) or MemCard PRO's\n"
      "folders (mcp2); Open PS2 Loader takes no PS1 cards. With pops each save of a PS1 card goes\n"
      "to the SLOT0.VMC of the game whose .VCD has its ID (a VMCDIR.TXT followed, never changed);\n"
      "saves whose disc is not there are skipped, and a PS2 card is refused.\n"
      "Exit status 1 when any save was skipped.\n"
      "Examples:\n"
      "  moravelt-cli sd split Mcd001.ps2 /media/sd\n"
      "  moravelt-cli sd split --layout opl --system skip Mcd001.ps2 /media/usb\n"
      "  moravelt-cli sd split --layout pops Mcd001.mcd /media/usb");
  commands.push_back({splitCmd, [split](Console& console) { return RunSdSplit(*split, console); }});

  auto merge = std::make_shared<SdMergeOptions>();
  CLI::App* mergeCmd = sdCmd->add_subcommand("merge", "Gather the saves of the SD card's cards onto CARD");
  AddRoot(mergeCmd, merge->root, "The SD card's folder; its cards are only read");
  mergeCmd->add_option("CARD", merge->card, "The card to gather them on; made (8 MB) when missing")->required();
  mergeCmd->add_option("--game", merge->game, "Only this game's cards (SLUS-20946 or SLUS_209.46)");
  mergeCmd->add_flag("--ps1", merge->ps1, "Make a missing CARD a PS1 card (its kind from its extension)");
  mergeCmd->footer(
      "Of two saves with one folder name the later modified is kept, and the report names the\n"
      "other. A save that does not fit is reported; exit status 1 then. A PS2 card gathers the PS2\n"
      "cards and a PS1 card the PS1 cards.\n"
      "Examples:\n"
      "  moravelt-cli sd merge /media/sd all.ps2\n"
      "  moravelt-cli sd merge --game SLUS-20946 /media/sd kh2.ps2\n"
      "  moravelt-cli sd merge --ps1 --game SCUS-94163 /media/sd ff7.mcd");
  commands.push_back({mergeCmd, [merge](Console& console) { return RunSdMerge(*merge, console); }});

  auto check = std::make_shared<std::string>();
  CLI::App* checkCmd = sdCmd->add_subcommand("check", "Run card check on every card, and find cards their device refuses");
  AddRoot(checkCmd, *check);
  checkCmd->footer("Exit status 1 when any card has damage or is one its device refuses (ECC on an sd2psx\n"
                   "card, a size it does not take), or a VMCDIR.TXT is not followed: one POPStarter ignores\n"
                   "(over 103 bytes, more than one line, holding / \\ or :) or one that leaves POPS.");
  commands.push_back({checkCmd, [check](Console& console) { return RunSdCheck(*check, console); }});
}

}  // namespace cli
