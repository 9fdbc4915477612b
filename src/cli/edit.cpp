// rename, add, remove, set-mode, set-time: one change through the container operations,
// then the save written back over its source or to -o.
#include <system_error>

#include "cli/command.h"
#include "model/entry_time_text.h"
#include "formats/messages.h"
#include "formats/ps1/ps1_save.h"
#include "formats/registry.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"

namespace cli {

namespace {

enum class EditKind { kRename, kAdd, kRemove, kSetMode, kSetTime };

struct EditOptions {
  EditKind kind = EditKind::kRename;
  std::string source;
  std::string output;                // -o: write here instead of over the source
  std::optional<std::string> file;   // --file: the file to change; the folder when absent
  std::string fileOption;            // what --file was given
  std::string value;                 // new name, file name to remove, mode, or time
  std::vector<std::string> pcFiles;  // add
  bool replace = false;              // add: replace files of the same name
  bool created = false;              // set-time: --created
  bool modified = false;             // set-time: --modified
  OpenOptions open;
};

// MODE in decimal, or hexadecimal after "0x"; none unless the whole text is one 32-bit number.
std::optional<std::uint32_t> ParseMode(const std::string& text) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

struct Failure {
  std::string message;
  int code = kExitFailed;
};

// The entry the edit works on: --file NAME, or the folder without it.
std::optional<int> Target(const CSaveGame& save, const EditOptions& o, Failure& failure) {
  if (!o.file) return -1;
  std::optional<int> index = FindFile(save, *o.file);
  if (!index) failure.message = "No file named " + Quoted(*o.file) + " in the save";
  return index;
}

bool Rename(CSaveGame& save, const EditOptions& o, Failure& failure) {
  std::optional<int> index = Target(save, o, failure);
  if (!index) return false;
  if (o.value.empty() || o.value.size() > kNameChars || o.value.find('\0') != std::string::npos) {
    failure = {"A name has 1 to 32 characters", kExitUsage};
    return false;
  }
  if (*index >= 0) {
    std::optional<int> other = FindFile(save, o.value);
    if (other && *other != *index) {
      failure.message = "The save already has a file named " + Quoted(o.value);
      return false;
    }
  }
  save.SetName(*index, o.value);
  return true;
}

// A PS1 save has a name and its blocks: rename, to a card file name, is its only edit.
bool Ps1EditAllowed(const CSaveGame& save, const EditOptions& o, Failure& failure) {
  if (!ps1::IsPs1(save)) return true;
  if (o.kind != EditKind::kRename)
    failure = {"A PlayStation 1 save has no files, modes or times of its own to change: only rename changes it",
               kExitUsage};
  else if (!ps1::IsCardFileName(o.value))
    failure = {"A PlayStation 1 save's name has 1 to 20 ASCII characters", kExitUsage};
  else
    return true;
  return false;
}

bool Add(CSaveGame& save, const EditOptions& o, Console& console, Failure& failure) {
  for (const std::string& pcFile : o.pcFiles) {
    if (!io::IsFile(pcFile) || !io::FileSize(pcFile)) {
      failure.message = std::string(messages::kCannotReadFile) + ": " + Quoted(pcFile);
      return false;
    }
    std::string name(io::FileNameOf(pcFile));
    // The whole name, byte for byte and case-sensitive, as the add command compares.
    int position = 0;
    for (int i = 0; i < save.FileCount(); ++i)
      if (save.EntryAt(i)->Name() == name) {
        position = i + 1;
        break;
      }
    if (position > 0) {
      console.Note(std::string(messages::kFileExistsCaption) + ": " +
                   messages::FileExistsQuestion(DisplayText(name)) +
                   (o.replace ? " -> Yes" : " -> No (--replace answers Yes)"));
      if (o.replace && !save.ReplaceEntryFromDisk(pcFile, position)) {
        failure.message = std::string(messages::kCannotReadFile) + ": " + Quoted(pcFile);
        return false;
      }
      continue;
    }
    if (name.size() > kNameChars)
      console.Note("note: " + Quoted(name) + " is stored as " +
                   Quoted(name.substr(0, kNameChars)));
    if (!save.AddEntryFromDisk(pcFile, name)) {
      failure.message = std::string(messages::kCannotReadFile) + ": " + Quoted(pcFile);
      return false;
    }
  }
  return true;
}

bool Remove(CSaveGame& save, const EditOptions& o, Failure& failure) {
  std::optional<int> index = FindFile(save, o.value);
  if (!index) {
    failure.message = "No file named " + Quoted(o.value) + " in the save";
    return false;
  }
  save.RemoveEntry(*index);
  return true;
}

bool SetModeOf(CSaveGame& save, const EditOptions& o, Failure& failure) {
  std::optional<int> index = Target(save, o, failure);
  if (!index) return false;
  std::optional<std::uint32_t> mode = ParseMode(o.value);
  if (!mode) {
    failure = {"MODE is a 32-bit number, decimal or 0x hexadecimal: " + Quoted(o.value),
               kExitUsage};
    return false;
  }
  // As in the Properties dialog, File and Directory stay as they are: they decide how
  // a container is read back.
  constexpr std::uint32_t kFixed = EntryMode::kFile | EntryMode::kDirectory;
  if (((save.EntryAt(*index)->mode ^ *mode) & kFixed) != 0) {
    failure = {"The File (0x0010) and Directory (0x0020) flags cannot be changed", kExitUsage};
    return false;
  }
  save.SetMode(*index, *mode);
  return true;
}

bool SetTime(CSaveGame& save, const EditOptions& o, Failure& failure) {
  std::optional<int> index = Target(save, o, failure);
  if (!index) return false;
  // The Properties dialog's entry form and checks; a text longer than the form is refused.
  TimeEntry entry = ReadEntryForm(o.value);
  if (o.value.size() > kEntryMask.size() && entry.check == TimeCheck::kOk)
    entry.check = TimeCheck::kInvalid;
  if (entry.check != TimeCheck::kOk) {
    std::string_view message =
        entry.check == TimeCheck::kBlank ? kBlankDigitsMessage : kInvalidTimeMessage;
    failure = {std::string(message), kExitUsage};
    return false;
  }
  if (o.created)
    save.SetCreated(*index, entry.time);
  else
    save.SetModified(*index, entry.time);
  return true;
}

int RunEdit(const EditOptions& o, Console& console) {
  std::string target = o.output.empty() ? o.source : o.output;
  std::unique_ptr<CSaveGame> opened = OpenSaveOrReport(o.source, console, o.open);
  if (!opened) return kExitFailed;
  CSaveGame& save = *opened;
  if (o.output.empty() && save.kind == kKindCard) {
    console.Error("A save on a card is not changed there: name a " +
                  TargetExtensions(", ", " or ", PlayStationOf(save)) +
                  " file to write with -o OUT, then put it back with card import --replace");
    return kExitUsage;
  }
  const FormatFamily* own = TargetFamilyForExtension(ExtensionOf(o.source));
  if (o.output.empty() && (!own || own->kind != save.kind || !own->Can(kSavesInPlace))) {
    std::string ext(ExtensionOf(o.source));
    console.Error("A ." + ext + " save cannot be written in its own format: name a " +
                  TargetExtensions(", ", " or ", PlayStationOf(save)) + " file to write with -o OUT");
    return kExitUsage;
  }
  if (!TargetFamilyFor(ExtensionOf(target), save)) {
    console.Error(messages::kUnknownFileType);
    return kExitFailed;
  }

  Failure failure;
  if (!Ps1EditAllowed(save, o, failure)) {
    console.Error(failure.message);
    return failure.code;
  }
  bool done = false;
  switch (o.kind) {
    case EditKind::kRename: done = Rename(save, o, failure); break;
    case EditKind::kAdd: done = Add(save, o, console, failure); break;
    case EditKind::kRemove: done = Remove(save, o, failure); break;
    case EditKind::kSetMode: done = SetModeOf(save, o, failure); break;
    case EditKind::kSetTime: done = SetTime(save, o, failure); break;
  }
  if (!done) {
    console.Error(failure.message);
    return failure.code;
  }
  std::string error = WriteSave(save, target, console);
  if (!error.empty()) {
    console.Error(error);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void AddEditCommands(CLI::App& app, Commands& commands) {
  const std::string writeBack =
      "The save is written back over SRC (through a \"~0\" file) or to -o OUT.\n";
  // Each command has its own options; they differ only in what follows SRC.
  auto add = [&](const char* name, const char* description, EditKind kind, bool withFile) {
    auto o = std::make_shared<EditOptions>();
    o->kind = kind;
    CLI::App* cmd = app.add_subcommand(name, description);
    cmd->add_option("SRC", o->source, "The save to change")->required();
    cmd->add_option("-o,--output", o->output,
                    "Write the changed save here (" + TargetExtensions(", ", " or ") +
                        ") instead of over SRC");
    CLI::Option* fileOpt = nullptr;
    if (withFile)
      fileOpt = cmd->add_option("--file", o->fileOption, "The file to change (default: the save folder)");
    AddOpenOptions(cmd, o->open);
    commands.push_back({cmd, [o, fileOpt](Console& console) {
                          if (fileOpt && fileOpt->count() > 0) o->file = o->fileOption;
                          if (o->kind == EditKind::kSetTime && !o->created && !o->modified) {
                            console.Error("set-time needs --created or --modified\n"
                                          "Run with --help for more information.");
                            return kExitUsage;
                          }
                          return RunEdit(*o, console);
                        }});
    return std::make_pair(cmd, o);
  };

  auto [renameCmd, rename] = add("rename", "Rename the save folder or one file", EditKind::kRename, true);
  renameCmd->add_option("NEWNAME", rename->value, "The new name (at most 32 characters)")->required();
  renameCmd->footer(writeBack +
                    "Examples:\n"
                    "  moravelt-cli rename game.psu BESLES-99999SAVE\n"
                    "  moravelt-cli rename game.psu --file data.bin data2.bin\n"
                    "  moravelt-cli rename game.max NEWNAME -o game.psu");

  auto [addCmd, added] = add("add", "Add PC files to a save", EditKind::kAdd, false);
  addCmd->add_option("PCFILE", added->pcFiles, "Files to add, named by their file name")->required();
  addCmd->add_flag("--replace", added->replace,
                   "Replace a file of the same name (answers \"File exists\" with Yes)");
  addCmd->footer(writeBack +
                 "Examples:\n"
                 "  moravelt-cli add game.psu notes.txt\n"
                 "  moravelt-cli add --replace game.psu icon.sys");

  auto [removeCmd, removed] = add("remove", "Remove one file from a save", EditKind::kRemove, false);
  removeCmd->add_option("NAME", removed->value, "The file to remove")->required();
  removeCmd->footer(writeBack +
                    "Examples:\n"
                    "  moravelt-cli remove game.psu old.bin\n"
                    "  moravelt-cli remove game.psu old.bin -o smaller.psu");

  auto [modeCmd, mode] =
      add("set-mode", "Set the mode flags of the folder or a file", EditKind::kSetMode, true);
  modeCmd->add_option("MODE", mode->value, "Decimal, or hexadecimal with 0x")->required();
  modeCmd->footer(writeBack +
                  "The File (0x0010) and Directory (0x0020) flags stay as they are.\n"
                  "Examples:\n"
                  "  moravelt-cli set-mode game.psu 0x842F\n"
                  "  moravelt-cli set-mode game.psu --file data.bin 0x8497");

  auto [timeCmd, time] = add("set-time", "Set the creation or modification time of the folder or a file",
                             EditKind::kSetTime, true);
  CLI::Option* createdOpt = timeCmd->add_flag("--created", time->created, "Set the creation time");
  CLI::Option* modifiedOpt = timeCmd->add_flag("--modified", time->modified, "Set the modification time");
  createdOpt->excludes(modifiedOpt);
  timeCmd->add_option("TIME", time->value, "\"DD-MM-YYYY HH:MM:SS\"")->required();
  timeCmd->footer(writeBack +
                  "Examples:\n"
                  "  moravelt-cli set-time game.psu --modified \"05-03-2007 14:03:09\"\n"
                  "  moravelt-cli set-time game.psu --file icon.sys --created \"31-12-2006 23:59:59\"");
}

}  // namespace cli
