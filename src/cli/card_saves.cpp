// card export, import and rm: saves taken off a card, put on one, removed from one.
#include <system_error>

#include "card/card_messages.h"
#include "cli/card_command.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/safe_name.h"
#include "formats/messages.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"

namespace cli {

namespace {


struct ExportOptions {
  std::string card;
  std::vector<std::string> saves;
  bool all = false;
  std::string dir = ".";
  std::string to;  // default: psu from a PS2 card, mcs from a PS1 card
  bool force = false;
};

struct ImportOptions {
  std::string card;
  std::vector<std::string> files;
  bool replace = false;
  OpenOptions open;
};

struct RemoveOptions {
  std::string card;
  std::vector<std::string> saves;
};

constexpr std::string_view kToFolder = "folder";

// The family --to names (by its name or its extension), or nullptr for "folder".
struct ExportTarget {
  bool valid = false;
  const FormatFamily* family = nullptr;
};
ExportTarget TargetNamed(std::string to) {
  if (to.starts_with('.')) to.erase(0, 1);
  if (io::EqualsIgnoringCase(to, kToFolder)) return {true, nullptr};
  const FormatFamily* family = FamilyNamed(to);
  if (!family || !family->Can(kWritesConversions)) family = TargetFamilyForExtension(to);
  return {family != nullptr, family};
}

int RunExport(const ExportOptions& o, Console& console) {
  std::unique_ptr<card::Card> c = OpenCardOrReport(o.card, console);
  if (!c) return kExitFailed;
  const std::string to = !o.to.empty() ? o.to : card::IsPs1(c->type()) ? "mcs" : "psu";
  const ExportTarget target = TargetNamed(to);
  if (!target.valid) {
    console.Error("No family " + Quoted(to) + " to write: --to takes " +
                  TargetFamilyNames(", ", {}, card::IsPs1(c->type()) ? PlayStation::kPs1 : PlayStation::kPs2) + " or " +
                  std::string(kToFolder));
    return kExitUsage;
  }
  std::vector<std::string> folders = o.saves;
  if (o.all)
    for (const card::SaveInfo& s : c->List().saves)
      if (!s.deleted) folders.push_back(s.folder);
  if (folders.empty()) {
    console.Note("The card holds no saves");
    return kExitOk;
  }
  if (!io::MakeFolders(o.dir)) {
    console.Error(std::string(messages::kCannotWriteFile) + ": " + Quoted(o.dir));
    return kExitFailed;
  }

  io::SafeNamer namer;
  int failures = 0;
  for (const std::string& folder : folders) {
    card::OpenedSave opened = c->OpenSave(folder);
    if (opened.result != card::OpenSaveResult::kOpened || !opened.save) {
      console.Error(DisplayText(card::messages::OpenSaveMessage(opened.result, folder)));
      ++failures;
      continue;
    }
    // A family whose device takes only one name (a PS3 export) gets that name.
    const std::string name = target.family ? OutputName(*target.family, *opened.save, folder) : folder;
    const std::string safe = namer.Next(name);
    if (namer.changed()) console.Note("renamed: " + Quoted(name) + " is written as " + Quoted(safe));
    const std::string path = io::JoinPath(o.dir, safe);
    if (!target.family) {
      if (WriteSaveFolder(*opened.save, path, o.force, console) != kExitOk) ++failures;
      continue;
    }
    if (!o.force && io::Exists(path)) {
      console.Error("exists, not overwritten (use --force): " + Quoted(path));
      ++failures;
      continue;
    }
    const SaveWrite written = WriteSaveAs(*opened.save, *target.family, path);
    if (!written.ok()) {
      console.Error(WriteFailure(written) + ": " + Quoted(path));
      ++failures;
      continue;
    }
    console.out << DisplayText(path) << '\n';
  }
  return failures == 0 ? kExitOk : kExitFailed;
}

// A save to put on a card: a save file, a save on a card (CARD:FOLDER), or a PC folder.
Opened OpenImportSource(const std::string& path, Console& console, const OpenOptions& how) {
  if (io::IsFolder(path)) return ReadSaveFolder(path, {});
  return OpenSave(path, console, how);
}

bool Imported(card::ImportResult result) {
  return result == card::ImportResult::kImported || result == card::ImportResult::kReplaced;
}

int RunImport(const ImportOptions& o, Console& console) {
  std::unique_ptr<card::Card> c = OpenCardOrReport(o.card, console);
  if (!c) return kExitFailed;
  int failures = 0;
  for (const std::string& file : o.files) {
    Opened opened = OpenImportSource(file, console, o.open);
    if (!opened.save) {
      console.Error(DisplayText(file) + ": " + opened.error);
      ++failures;
      continue;
    }
    card::ImportOptions options;
    options.replace = o.replace;
    const card::ImportOutcome outcome = c->Import(*opened.save, options);
    const std::string message = DisplayText(card::messages::ImportMessage(outcome));
    if (Imported(outcome.result)) {
      console.out << message << '\n';
      continue;
    }
    console.Error(message);
    ++failures;
    // The card refuses every write from here on.
    if (outcome.result == card::ImportResult::kCardDamaged) {
      NoteWhyOnlyRead(*c, console);
      break;
    }
  }
  console.out << card::messages::FreeText(c->List()) << '\n';
  return failures == 0 ? kExitOk : kExitFailed;
}

int RunRestore(const RemoveOptions& o, Console& console) {
  std::unique_ptr<card::Card> c = OpenCardOrReport(o.card, console);
  if (!c) return kExitFailed;
  int failures = 0;
  for (const std::string& folder : o.saves) {
    const card::RestoreResult result = c->Restore(folder);
    const std::string message = DisplayText(card::messages::RestoreMessage(result, folder, c->refusal()));
    if (result == card::RestoreResult::kRestored) {
      console.out << message << '\n';
      continue;
    }
    console.Error(message);
    ++failures;
    if (result == card::RestoreResult::kCardDamaged) {
      NoteWhyOnlyRead(*c, console);
      break;
    }
  }
  console.out << card::messages::FreeText(c->List()) << '\n';
  return failures == 0 ? kExitOk : kExitFailed;
}

int RunRemove(const RemoveOptions& o, Console& console) {
  std::unique_ptr<card::Card> c = OpenCardOrReport(o.card, console);
  if (!c) return kExitFailed;
  int failures = 0;
  for (const std::string& folder : o.saves) {
    const card::RemoveResult result = c->Remove(folder);
    const std::string message = DisplayText(card::messages::RemoveMessage(result, folder, c->refusal()));
    if (result == card::RemoveResult::kRemoved) {
      console.out << message << '\n';
      continue;
    }
    console.Error(message);
    ++failures;
    if (result == card::RemoveResult::kCardDamaged) {
      NoteWhyOnlyRead(*c, console);
      break;
    }
  }
  console.out << card::messages::FreeText(c->List()) << '\n';
  return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void AddCardSaveCommands(CLI::App& cardCmd, Commands& commands) {
  auto exp = std::make_shared<ExportOptions>();
  CLI::App* exportCmd = cardCmd.add_subcommand("export", "Write saves of a card as save files or folders");
  exportCmd->add_option("CARD", exp->card, "The card image or folder card")->required();
  exportCmd->add_option("SAVE", exp->saves, "The saves' folder names on the card");
  CLI::Option* allOpt = exportCmd->add_flag("--all", exp->all, "Every save on the card");
  exportCmd->add_option("-o,--output", exp->dir, "The folder the saves go to (default: the current folder)");
  exportCmd->add_option("--to", exp->to,
                        "What to write: " + TargetFamilyNames(", ") +
                            " (a save file each, default psu, or mcs from a PS1 card) or " +
                            std::string(kToFolder) + " (a plain folder each, as unpack writes it)");
  exportCmd->add_flag("-f,--force", exp->force, "Overwrite files that exist");
  exportCmd->footer(
      "Each save is written as DIR/<folder>.<extension> (or DIR/<folder>/), its name made\n"
      "safe for the PC as unpack does; every changed name is reported.\n"
      "Examples:\n"
      "  moravelt-cli card export Mcd001.ps2 BESCES-50501REZ -o saves\n"
      "  moravelt-cli card export Mcd001.ps2 --all --to xps -o saves\n"
      "  moravelt-cli card export Mcd001.ps2 --all --to folder -o folders");
  commands.push_back({exportCmd, [exp, allOpt](Console& console) {
                        const bool all = allOpt->count() > 0;
                        if (all == !exp->saves.empty()) {
                          console.Error("card export needs either SAVE... or --all\n"
                                        "Run with --help for more information.");
                          return kExitUsage;
                        }
                        return RunExport(*exp, console);
                      }});

  auto imp = std::make_shared<ImportOptions>();
  CLI::App* importCmd = cardCmd.add_subcommand("import", "Put saves on a card");
  importCmd->add_option("CARD", imp->card, "The card image or folder card")->required();
  importCmd->add_option("FILE", imp->files,
                        "Save files (" + ReadableExtensions(" ") + "), saves on a card (CARD:FOLDER), or "
                        "plain folders of files as pack takes them")
      ->required();
  importCmd->add_flag("--replace", imp->replace, "Replace a save of the same folder name");
  AddOpenOptions(importCmd, imp->open);
  importCmd->footer(
      "A save that does not fit, or whose folder is already on the card (without\n"
      "--replace), is refused and the card is left as it was.\n" +
      ChangesCardNote() +
      "Examples:\n"
      "  moravelt-cli card import Mcd001.ps2 game.psu other.max\n"
      "  moravelt-cli card import --replace Mcd001.ps2 game.psu\n"
      "  moravelt-cli card import Mcd001.ps2 folders/BESCES-50501REZ\n"
      "  moravelt-cli card import Mcd002.ps2 Mcd001.ps2:BESCES-50501REZ");
  commands.push_back({importCmd, [imp](Console& console) { return RunImport(*imp, console); }});

  auto rm = std::make_shared<RemoveOptions>();
  CLI::App* rmCmd = cardCmd.add_subcommand("rm", "Remove saves from a card");
  rmCmd->add_option("CARD", rm->card, "The card image or folder card")->required();
  rmCmd->add_option("SAVE", rm->saves, "The saves' folder names on the card")->required();
  rmCmd->footer(ChangesCardNote() +
                "Examples:\n"
                "  moravelt-cli card rm Mcd001.ps2 BESCES-50501REZ\n"
                "  moravelt-cli card rm Mcd001.ps2 BESLES-11111AAA BESLES-22222BBB");
  commands.push_back({rmCmd, [rm](Console& console) { return RunRemove(*rm, console); }});

  auto restore = std::make_shared<RemoveOptions>();
  CLI::App* restoreCmd = cardCmd.add_subcommand("restore", "Bring back deleted saves on a PS1 card");
  restoreCmd->add_option("CARD", restore->card, "The PS1 card")->required();
  restoreCmd->add_option("SAVE", restore->saves, "The deleted saves' names (card ls --deleted lists them)")->required();
  restoreCmd->footer("A PS1 card keeps a deleted save's data until another save takes its blocks: a save\n"
                     "whose blocks are still free comes back; otherwise the card is left as it was.\n" +
                     ChangesCardNote() +
                     "Examples:\n"
                     "  moravelt-cli card restore epsxe.mcr BASLUS-00958GS2-7");
  commands.push_back({restoreCmd, [restore](Console& console) { return RunRestore(*restore, console); }});
}

}  // namespace cli
