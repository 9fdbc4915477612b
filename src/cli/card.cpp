// card ls, check, format and convert: a memory card as a whole. The card itself is an
// image file (with ECC or raw) or a PCSX2 folder card; the card layer tells them apart.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "card/card_messages.h"
#include "card/card_size.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "cli/card_command.h"
#include "io/text.h"
#include "formats/messages.h"
#include "io/file.h"

namespace cli {

namespace {

struct ListOptions {
  std::string card;
  bool json = false;
  bool deleted = false;
};

struct CheckOptions {
  std::string card;
  bool repair = false;
  bool json = false;
};

struct FormatCardOptions {
  std::string path;
  std::string size = "8M";
  bool raw = false;
  bool ecc = false;
  bool folder = false;
  bool force = false;
  bool ps1 = false;
  std::string as;  // a PS1 card kind, or a PS3 one (vm2, vme)
  std::string key;  // a new .VME's
};

struct ConvertCardOptions {
  std::string source;
  std::string target;
  bool raw = false;
  bool ecc = false;
  bool force = false;
  std::string as;  // a PS1 card kind
  std::string key;  // a new .VME's
};

}  // namespace

std::string CardTypeName(card::CardType type) { return std::string(card::KindOf(type).name); }

namespace {

// The name of each kind of finding, for scripts that act on some of them.
const char* IssueKindName(card::IssueKind kind) {
  using K = card::IssueKind;
  switch (kind) {
    case K::kOpenFailed: return "open-failed";
    case K::kReadFailed: return "read-failed";
    case K::kNotACard: return "not-a-card";
    case K::kPs1Card: return "ps1-card";
    case K::kUnformatted: return "unformatted";
    case K::kSizeMismatch: return "size-mismatch";
    case K::kBadSuperblock: return "bad-superblock";
    case K::kBadFat: return "bad-fat";
    case K::kDamagedSuperblock: return "damaged-superblock";
    case K::kBadRoot: return "bad-root";
    case K::kBadDirectory: return "bad-directory";
    case K::kChainLoop: return "chain-loop";
    case K::kChainBeyondCard: return "chain-beyond-card";
    case K::kChainIntoFree: return "chain-into-free";
    case K::kChainIntoBad: return "chain-into-bad";
    case K::kChainShort: return "chain-short";
    case K::kCrossLinked: return "cross-linked";
    case K::kContainsItself: return "contains-itself";
    case K::kLengthBeyondCard: return "length-beyond-card";
    case K::kEccUncorrectable: return "ecc-uncorrectable";
    case K::kBackupPending: return "backup-pending";
    case K::kBadIndex: return "bad-index";
    case K::kBadHostFile: return "bad-host-file";
    case K::kOverCapacity: return "over-capacity";
    case K::kFatAliased: return "fat-aliased";
    case K::kEccCorrected: return "ecc-corrected";
    case K::kEccCodeWrong: return "ecc-code-wrong";
    case K::kLostCluster: return "lost-cluster";
    case K::kDotEntry: return "dot-entry";
    case K::kSubfolder: return "subfolder";
    case K::kNotSigned: return "not-signed";
    case K::kOrphanedBlock: return "orphaned-block";
    case K::kBadCheck: return "bad-check";
    case K::kBadBlockState: return "bad-block-state";
    case K::kNoVmeKey: return "no-vme-key";
    case K::kVmeHash: return "vme-hash";
    case K::kTooLargeForPs3: return "too-large-for-ps3";
  }
  return "unknown";
}

}  // namespace

std::string Pad(std::string text, std::size_t width, bool right) {
  if (text.size() >= width) return text;
  return right ? std::string(width - text.size(), ' ') + text : text + std::string(width - text.size(), ' ');
}

nlohmann::ordered_json ListingJsonHead(const card::Card& c) {
  nlohmann::ordered_json j;
  j["card"] = ExactText(c.path());
  j["type"] = CardTypeName(c.type());
  j["damaged"] = c.Damaged();
  j["size_text"] = card::SizeText(card::SizeOf(c));
  return j;
}

std::string TitleUtf8(const card::SaveInfo& save) { return io::ShiftJisToUtf8(save.rawTitle); }

namespace {

void PrintListingJson(const card::Card& c, const card::Listing& listing, Console& console) {
  nlohmann::ordered_json j = ListingJsonHead(c);
  nlohmann::ordered_json saves = nlohmann::ordered_json::array();
  for (const card::SaveInfo& s : listing.saves) {
    nlohmann::ordered_json one;
    one["folder"] = BytesToUtf8(s.folder);
    one["title"] = BytesToUtf8(s.title);
    one["title_utf8"] = TitleUtf8(s);
    one["size_kb"] = s.sizeKB;
    one["created"] = TimeText(s.created);
    one["modified"] = TimeText(s.modified);
    one["mode"] = s.mode;
    one["attr"] = s.attr;
    one["files"] = s.files;
    one["readable"] = s.readable;
    saves.push_back(std::move(one));
  }
  j["saves"] = std::move(saves);
  j["free_kb"] = listing.freeKB;
  j["free_text"] = card::messages::FreeText(listing);
  console.out << j.dump(2, ' ', true) << '\n';
}

void PrintListingText(const card::Listing& listing, Console& console) {
  std::ostream& out = console.out;
  if (listing.saves.empty()) {
    out << "No saves\n";
  } else {
    struct Row {
      std::string folder, size, modified, mode, title, full;
    };
    std::vector<Row> rows;
    Row widths{"Folder", "Size", "Modified", "Mode", "Title", "Full title"};
    for (const card::SaveInfo& s : listing.saves)
      rows.push_back({DisplayText(s.folder), card::messages::KilobytesText(s.sizeKB), TimeText(s.modified),
                      FormatMode(s.mode), DisplayText(s.title), Printable(TitleUtf8(s))});
    std::size_t folderWidth = widths.folder.size(), sizeWidth = widths.size.size(),
                titleWidth = widths.title.size();
    for (const Row& r : rows) {
      folderWidth = std::max(folderWidth, r.folder.size());
      sizeWidth = std::max(sizeWidth, r.size.size());
      titleWidth = std::max(titleWidth, r.title.size());
    }
    auto print = [&](const Row& r) {
      std::string line = Pad(r.folder, folderWidth) + "  " + Pad(r.size, sizeWidth, true) + "  " +
                         Pad(r.modified, 19) + "  " + Pad(r.mode, 10) + "  " + Pad(r.title, titleWidth) +
                         "  " + r.full;
      line.erase(line.find_last_not_of(' ') + 1);
      out << line << '\n';
    };
    print(widths);
    for (const Row& r : rows) print(r);
  }
  out << card::messages::FreeText(listing) << '\n';
}

int RunList(const ListOptions& o, Console& console) {
  std::unique_ptr<card::Card> c = OpenCardOrReport(o.card, console);
  if (!c) return kExitFailed;
  const card::Listing listing = c->List();
  if (listing.ps1 && o.json)
    PrintPs1ListingJson(*c, listing, o.deleted, console);
  else if (listing.ps1)
    PrintPs1ListingText(listing, o.deleted, console);
  else if (o.json)
    PrintListingJson(*c, listing, console);
  else
    PrintListingText(listing, console);
  for (const card::SaveInfo& s : listing.saves)
    if (!s.readable && !s.deleted) console.Note(DisplayText(card::messages::DamagedSaveNote(s)));
  if (c->Damaged()) console.Note("note: the card has damage and is not written to; card check says what");
  NoteWhyOnlyRead(*c, console);
  return kExitOk;
}

std::string CheckLine(const card::Issue& issue) {
  return DisplayText(card::messages::IssueLine(issue)) + " [" + IssueKindName(issue.kind) + "]";
}

nlohmann::ordered_json IssuesJson(const std::vector<card::Issue>& issues) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const card::Issue& i : issues) {
    nlohmann::ordered_json one;
    one["kind"] = IssueKindName(i.kind);
    one["severity"] = std::string(card::messages::SeverityName(i.severity()));
    one["where"] = ExactText(i.where);
    one["message"] = ExactText(i.message);
    list.push_back(std::move(one));
  }
  return list;
}

bool WorseThanNotice(const std::vector<card::Issue>& issues) {
  return std::any_of(issues.begin(), issues.end(),
                     [](const card::Issue& i) { return i.severity() != card::Severity::kNotice; });
}

const char* RepairResultName(card::RepairResult result) {
  switch (result) {
    case card::RepairResult::kRepaired: return "repaired";
    case card::RepairResult::kNothingToRepair: return "nothing-to-repair";
    case card::RepairResult::kWriteFailed: return "write-failed";
    case card::RepairResult::kWouldDamage: return "would-damage";
  }
  return "write-failed";
}

int RunCheck(const CheckOptions& o, Console& console) {
  card::OpenedCard opened = card::OpenCard(o.card);
  // A card that can't be opened has its findings all the same, and nothing to repair.
  const std::vector<card::Issue> found = opened.card ? opened.card->Check() : opened.issues;
  std::optional<card::RepairOutcome> repair;
  if (o.repair) repair = opened.card ? opened.card->Repair() : card::RepairSuperblock(o.card);
  const std::vector<card::Issue>& remaining = repair ? repair->remaining : found;
  const bool repairFailed = repair && (repair->result == card::RepairResult::kWriteFailed ||
                                       repair->result == card::RepairResult::kWouldDamage);

  if (o.json) {
    nlohmann::ordered_json j;
    j["card"] = ExactText(o.card);
    j["opened"] = opened.card != nullptr;
    j["issues"] = IssuesJson(found);
    if (repair) {
      nlohmann::ordered_json r;
      r["result"] = RepairResultName(repair->result);
      r["message"] = ExactText(card::messages::RepairMessage(*repair));
      r["pages_corrected"] = repair->pagesCorrected;
      r["clusters_freed"] = repair->clustersFreed;
      r["lost_clusters_kept"] = repair->lostClustersKept;
      r["remaining"] = IssuesJson(repair->remaining);
      j["repair"] = std::move(r);
    } else {
      j["repair"] = nullptr;
    }
    console.out << j.dump(2, ' ', true) << '\n';
  } else {
    for (const card::Issue& i : found) console.out << CheckLine(i) << '\n';
    if (found.empty()) console.out << "No problems found\n";
    if (repair) {
      (repairFailed ? console.err : console.out) << DisplayText(card::messages::RepairMessage(*repair)) << '\n';
      if (repair->result == card::RepairResult::kRepaired)
        for (const card::Issue& i : repair->remaining) console.out << "remaining: " << CheckLine(i) << '\n';
    }
  }
  return WorseThanNotice(remaining) || repairFailed ? kExitFailed : kExitOk;
}

// "8M", "8", "8MB", "8MiB" in any letter case: the megabytes; 0 for anything else.
unsigned ParseMegabytes(std::string text) {
  text = io::FoldAscii(text);
  for (const char* suffix : {"mib", "mb", "m"})
    if (text.size() > std::string_view(suffix).size() && text.ends_with(suffix)) {
      text.resize(text.size() - std::string_view(suffix).size());
      break;
    }
  if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return static_cast<unsigned>(std::stoul(text));
}

int RunFormat(const FormatCardOptions& o, Console& console) {
  const std::optional<card::CardType> ps3 = o.ps1 || o.folder || o.raw ? std::nullopt : Ps3KindFor(o.as, o.path);
  if (ps3) {
    const unsigned megabytes = ParseMegabytes(o.size);
    if (std::find(card::kFormatSizes.begin(), card::kFormatSizes.end(), megabytes) == card::kFormatSizes.end()) {
      console.Error(card::messages::FormatMessage(card::FormatResult::kBadSize));
      return kExitUsage;
    }
    return FormatPs3(o.path, *ps3, megabytes, o.force, o.key, console);
  }
  if (!o.key.empty()) {
    console.Error("--key names the key of a new .VME");
    return kExitUsage;
  }
  if (o.ps1 || !o.as.empty()) {
    if (o.size != "8M") {
      console.Error("--size is for PS2 cards; a PS1 card is 128 KB");
      return kExitUsage;
    }
    return FormatPs1(o.path, o.as, o.force, console);
  }
  card::FormatOptions options;
  options.overwrite = o.force;
  card::FormatResult result;
  if (o.folder) {
    result = card::FormatFolderCard(o.path, options);
  } else {
    options.megabytes = ParseMegabytes(o.size);
    if (std::find(card::kFormatSizes.begin(), card::kFormatSizes.end(), options.megabytes) ==
        card::kFormatSizes.end()) {
      console.Error(card::messages::FormatMessage(card::FormatResult::kBadSize));
      return kExitUsage;
    }
    options.ecc = o.raw ? false : o.ecc ? true : card::EccForExtension(o.path).value_or(true);
    result = card::FormatImage(o.path, options);
  }
  const std::string message(card::messages::FormatMessage(result));
  if (result != card::FormatResult::kFormatted) {
    console.Error(message + (result == card::FormatResult::kTargetExists && !o.folder
                                 ? " (--force formats over a file)"
                                 : ""));
    return kExitFailed;
  }
  console.out << message << ": " << DisplayText(o.path) << '\n';
  if (!o.folder) {
    const std::string warning = card::messages::SizeWarning(options.megabytes);
    if (!warning.empty()) console.Note("warning: " + warning);
  }
  return kExitOk;
}

int RunConvertCard(const ConvertCardOptions& o, Console& console) {
  const card::Identified source = card::Identify(o.source);
  if (source.card && source.card->ps1) {
    if (!o.force && io::Exists(o.target) && !io::SameFile(o.source, o.target)) {
      console.Error("exists, not overwritten (use --force): " + Quoted(o.target));
      return kExitFailed;
    }
    return ConvertPs1(source, o.target, o.as, console);
  }
  if (!o.as.empty()) {
    console.Error("--as names a PS1 card's kind; " + Quoted(o.source) + " is no PS1 card");
    return kExitUsage;
  }
  if ((source.card && source.card->type == card::CardType::kPs3Vme) || Ps3KindFor({}, o.target) || !o.key.empty())
    return ConvertPs3(source, {o.source, o.target, o.key, o.raw, o.ecc, o.force}, console);
  std::optional<bool> ecc = o.raw ? false : o.ecc ? std::optional<bool>(true) : card::EccForExtension(o.target);
  if (!ecc) {
    console.Error("Name the layout: OUT ending in " + card::CardExtensions(false, true, ", ", " or ") +
                  " (with ECC) or " + card::CardExtensions(false, false, ", ", " or ") + " (raw), or --ecc or --raw");
    return kExitUsage;
  }
  return WriteConvertedCard(source, o.source, o.target, o.force, *ecc ? "with ECC" : "raw",
                            [&](io::OutputFile& out, std::string* detail) {
                              return card::ConvertImage(source.source, out, *ecc, o.force, detail);
                            },
                            console);
}

}  // namespace

int WriteConvertedCard(const card::Identified& source, const std::string& sourcePath, const std::string& target,
                       bool force, const std::string& kind, const CardConversion& convert, Console& console) {
  if (!force && io::Exists(target) && !io::SameFile(sourcePath, target)) {
    console.Error("exists, not overwritten (use --force): " + Quoted(target));
    return kExitFailed;
  }
  std::string detail;
  card::ConvertResult result = card::ConvertResult::kNotAnImage;
  if (source.folder && source.card) {
    result = card::ConvertResult::kFolderCard;
  } else if (source.source) {
    io::OutputFile out(target, /*inPlace=*/false);
    out.ReleaseBeforeReplacing(source.source);
    result = convert(out, &detail);
  }
  const std::string message(card::messages::ConvertMessage(result));
  if (result != card::ConvertResult::kConverted) {
    console.Error(message + (detail.empty() ? "" : ": " + DisplayText(detail)));
    return kExitFailed;
  }
  console.out << message << ": " << DisplayText(target) << " (" << kind << ")\n";
  return kExitOk;
}

std::unique_ptr<card::Card> OpenCardOrReport(const std::string& path, Console& console) {
  card::OpenedCard opened = card::OpenCard(path);
  if (!opened.card) console.Error(DisplayText(card::messages::OpenFailure(opened)));
  return std::move(opened.card);
}

void NoteWhyOnlyRead(const card::Card& c, Console& console) {
  for (const card::Issue& issue : c.issues())
    if (issue.kind == card::IssueKind::kNotSigned) console.Note("warning: " + DisplayText(issue.where + ": " + issue.message));
}

std::string ChangesCardNote() { return std::string(card::messages::kCloseInEmulator) + "\n"; }

namespace {

// Text broken into lines of at most `width` characters at its spaces, each ended by a line
// break.
std::string Wrapped(const std::string& text, std::size_t width = 88) {
  std::string out, line;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t space = std::min(text.find(' ', from), text.size());
    const std::string word = text.substr(from, space - from);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    from = space + 1;
  }
  return out + line + "\n";
}

// The kinds of card, from their table, as the help texts name them: ".ps2 .vm2 with ECC;
// .mc2 .mcd .bin .vmc raw; a PS2 Classics card (.VME), encrypted" and "raw (.mcd .mcr ...), DexDrive .gme, VGS .vgs/.mem, ...".
std::string ImageKindsText() {
  return card::CardExtensions(false, true, " ") + " with ECC; " + card::CardExtensions(false, false, " ") + " raw; " +
         std::string(card::KindOf(card::CardType::kPs3Vme).noun) + ", encrypted";
}

std::string Ps1KindsText() {
  std::vector<std::string> parts;
  for (const card::CardKind& k : card::CardKinds()) {
    if (!k.ps1) continue;
    std::string extensions;
    for (const card::CardExtension& e : k.extensions) extensions += (extensions.empty() ? "." : " .") + std::string(e.extension);
    const std::string_view name = k.name.substr(k.name.find(' ') + 1);  // without "PS1 "
    parts.push_back(k.ps1File == card::Ps1FileKind::kRaw ? "raw (" + extensions + ")" : std::string(name) + " " + extensions);
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : i + 1 == parts.size() ? " or " : ", ") + parts[i];
  return text;
}

// The PS1 kinds a new card file is made as by its name: "a DexDrive card for .gme, ...".
std::string Ps1KindsByExtensionText() {
  std::string text;
  for (const card::CardKind& k : card::CardKinds()) {
    if (!k.ps1File || k.ps1File == card::Ps1FileKind::kRaw || k.ps1File == card::Ps1FileKind::kPocketStation) continue;
    std::string extensions;
    for (std::size_t i = 0; i < k.extensions.size(); ++i)
      extensions += (i == 0 ? "." : i + 1 == k.extensions.size() ? " and ." : ", .") + std::string(k.extensions[i].extension);
    text += std::string(k.noun) + " for " + extensions + ", ";
  }
  return text;
}

}  // namespace

void AddCardCommands(CLI::App& app, Commands& commands) {
  CLI::App* cardCmd = app.add_subcommand(
      "card", "Memory cards: list, export, import, remove, format, check and convert");
  cardCmd->require_subcommand(1);
  cardCmd->footer(
      Wrapped("CARD is a card image (" + ImageKindsText() + "; any name works) or a PCSX2 folder card (a folder "
              "holding _pcsx2_superblock), or a PS1 card: " + Ps1KindsText() + ", known by its contents. A save on "
              "a card is named CARD:FOLDER wherever a save file is taken (info, convert, extract, icon, card "
              "import): moravelt-cli info Mcd001.ps2:BESCES-50501REZ") +
      ChangesCardNote() +
      "Examples:\n"
      "  moravelt-cli card ls Mcd001.ps2\n"
      "  moravelt-cli card export Mcd001.ps2 --all -o saves\n"
      "  moravelt-cli card import Mcd001.ps2 game.psu\n"
      "  moravelt-cli card ls --deleted epsxe.mcr\n"
      "Each command explains itself: moravelt-cli card COMMAND --help");

  auto list = std::make_shared<ListOptions>();
  CLI::App* listCmd = cardCmd->add_subcommand("ls", "List the saves on a card and its free space");
  listCmd->add_option("CARD", list->card, "The card image or folder card")->required();
  listCmd->add_flag("--json", list->json, "Print one JSON object");
  listCmd->add_flag("--deleted", list->deleted, "PS1 cards: list deleted saves too, marked as deleted");
  listCmd->footer(
      "Each save: folder, size as the console counts it, modification time (the console's\n"
      "clock, Japan time, shown as stored), mode, title in ASCII and in full.\n"
      "On a PS1 card: name, blocks, their numbers in chain order, region and title.\n"
      "Examples:\n"
      "  moravelt-cli card ls Mcd001.ps2\n"
      "  moravelt-cli card ls --json Mcd001.ps2");
  commands.push_back({listCmd, [list](Console& console) { return RunList(*list, console); }});

  AddCardSaveCommands(*cardCmd, commands);

  auto format = std::make_shared<FormatCardOptions>();
  CLI::App* formatCmd = cardCmd->add_subcommand("format", "Make a new, empty card, as the console formats one");
  formatCmd->add_option("NEW", format->path, "The card image, or the folder for --folder")->required();
  CLI::Option* sizeOpt = formatCmd->add_option("--size", format->size, "1M, 2M, 4M, 8M, 16M, 32M or 64M (default 8M; games are made for 8M)");
  CLI::Option* rawOpt = formatCmd->add_flag("--raw", format->raw, "A raw image, without ECC");
  CLI::Option* eccOpt = formatCmd->add_flag("--ecc", format->ecc, "An image with ECC");
  CLI::Option* folderOpt = formatCmd->add_flag("--folder", format->folder, "A PCSX2 folder card (8 MB)");
  formatCmd->add_flag("-f,--force", format->force, "Format over an existing image file");
  CLI::Option* ps1Opt = formatCmd->add_flag("--ps1", format->ps1, "A PS1 card (128 KB), its kind from NEW's extension");
  CLI::Option* asOpt = formatCmd->add_option(
      "--as", format->as, "A PS1 card of this kind: " + card::Ps1KindNames(", ", " or ") + "; or vm2, a PS3 card, or vme, a PS2 Classics card");
  CLI::Option* keyOpt = formatCmd->add_option("--key", format->key, "The key of a new .VME: retail (the default) or debug");
  rawOpt->excludes(eccOpt);
  folderOpt->excludes(rawOpt)->excludes(eccOpt)->excludes(sizeOpt)->excludes(keyOpt);
  ps1Opt->excludes(rawOpt)->excludes(eccOpt)->excludes(sizeOpt)->excludes(folderOpt)->excludes(keyOpt);
  asOpt->excludes(rawOpt)->excludes(eccOpt)->excludes(folderOpt);
  formatCmd->footer(
      Wrapped("Without --raw or --ecc the extension decides: " + card::CardExtensions(false, false, ", ", " and ") +
              " are raw, anything else has ECC. A folder card is made in an empty or new folder only. A PS1 card "
              "(--ps1) is " + Ps1KindsByExtensionText() +
              "and raw for any other name; --as names the kind (pocketstation only so). A .vm2 (--as vm2) is a PS3 "
              "card, with ECC and at most 32 MB; a .vme (--as vme) a PS2 Classics card, 8 MB, encrypted with the "
              "retail key or the one --key names.") +
      "Examples:\n"
      "  moravelt-cli card format Mcd002.ps2\n"
      "  moravelt-cli card format --as vm2 --size 16M ps3.VM2\n"
      "  moravelt-cli card format --key debug SCEVMC0.VME\n"
      "  moravelt-cli card format --ps1 epsxe.mcr\n"
      "  moravelt-cli card format --size 64M opl.bin\n"
      "  moravelt-cli card format --folder Mcd003.ps2");
  commands.push_back({formatCmd, [format](Console& console) { return RunFormat(*format, console); }});

  auto check = std::make_shared<CheckOptions>();
  CLI::App* checkCmd = cardCmd->add_subcommand("check", "Find everything wrong with a card");
  checkCmd->add_option("CARD", check->card, "The card image or folder card")->required();
  checkCmd->add_flag("--repair", check->repair,
                     "Make the safe repairs: pages with one wrong bit rewritten, lost clusters freed");
  checkCmd->add_flag("--json", check->json, "Print one JSON object");
  checkCmd->footer(
      "Each finding: its severity (error, damage or notice), where, what, and its kind.\n"
      "Exit status 1 when anything worse than a notice is found (after --repair: is left).\n" +
      ChangesCardNote() +
      "Examples:\n"
      "  moravelt-cli card check Mcd001.ps2\n"
      "  moravelt-cli card check --repair Mcd001.ps2");
  commands.push_back({checkCmd, [check](Console& console) { return RunCheck(*check, console); }});

  auto convert = std::make_shared<ConvertCardOptions>();
  CLI::App* convertCmd = cardCmd->add_subcommand("convert", "Write a card image with ECC or raw");
  convertCmd->add_option("CARD", convert->source, "The card image")->required();
  convertCmd->add_option("OUT", convert->target, "The image to write; CARD itself converts in place")->required();
  CLI::Option* toRaw = convertCmd->add_flag("--raw", convert->raw, "Write a raw image, whatever OUT's name");
  CLI::Option* toEcc = convertCmd->add_flag("--ecc", convert->ecc, "Write an image with ECC, whatever OUT's name");
  convertCmd->add_flag("-f,--force", convert->force,
                       "Overwrite OUT when it exists; convert to raw even with pages whose damage can't be corrected");
  CLI::Option* asKind =
      convertCmd->add_option("--as", convert->as, "PS1 cards: " + card::Ps1KindNames(", ", " or "));
  CLI::Option* keyKind =
      convertCmd->add_option("--key", convert->key, "The key of a new .VME: retail (the default) or debug");
  toRaw->excludes(toEcc);
  asKind->excludes(toRaw)->excludes(toEcc)->excludes(keyKind);
  convertCmd->footer(
      Wrapped("OUT's extension names the layout: " + ImageKindsText() +
              ". Only card images convert; a folder card's saves go to an image with card import. A PS1 card is "
              "written as the kind OUT's extension names (" + Ps1KindsByExtensionText() +
              "raw for any other) or --as names: a .vmp is signed, a PocketStation file encrypted. A .VME (a PS2 "
              "Classics card) is decrypted with whichever PS3 key fits; one is made only of an 8 MB card, with the "
              "retail key or the one --key names. A .VM2 is given ECC, and never made of a 64 MB card, on which a "
              "PS3 loops at boot.") +
      ChangesCardNote() +
      "Examples:\n"
      "  moravelt-cli card convert Mcd001.ps2 opl.bin\n"
      "  moravelt-cli card convert opl.vmc Mcd001.ps2\n"
      "  moravelt-cli card convert --raw card.img card.img\n"
      "  moravelt-cli card convert SCES-00984.gme SCES-00984.mcd\n"
      "  moravelt-cli card convert SCEVMC0.VME Mcd001.ps2\n"
      "  moravelt-cli card convert --key debug Mcd001.ps2 SCEVMC0.VME");
  commands.push_back({convertCmd, [convert](Console& console) { return RunConvertCard(*convert, console); }});
}

}  // namespace cli
