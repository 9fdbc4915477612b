// extract and unpack: a save's files as PC files.
#include "cli/command.h"
#include "formats/messages.h"
#include "formats/write_folder.h"
#include "io/file.h"
#include "io/path.h"
#include "io/safe_name.h"

namespace cli {

namespace {

struct ExtractOptions {
  std::string source;
  std::string name;    // one file ...
  std::string output;  // ... written here
  std::string allDir;  // or every file into this folder
  OpenOptions open;
};

struct UnpackOptions {
  std::string source;
  std::string dir;
  bool force = false;
  OpenOptions open;
};

// Writes every file of the save into dir; returns the exit code.
int WriteAll(const CSaveGame& save, const std::string& dir, bool force, bool applyTimes,
             Console& console) {
  FolderWrite written = WriteSaveFiles(save, dir, force, applyTimes);
  if (!written.folderMade) {
    console.Error(std::string(messages::kCannotWriteFile) + ": " + Quoted(dir));
    return kExitFailed;
  }
  for (const FolderFile& f : written.files) {
    if (f.renamed)
      console.Note("renamed: " + Quoted(f.name) + " is written as " + Quoted(std::string(io::FileNameOf(f.path))));
    switch (f.outcome) {
      case FolderFileOutcome::kWritten: console.out << DisplayText(f.path) << '\n'; break;
      case FolderFileOutcome::kExists:
        console.Error(std::string(FolderFileMessage(f.outcome)) + " (use --force): " + Quoted(f.path));
        break;
      default: console.Error(std::string(FolderFileMessage(f.outcome)) + ": " + Quoted(f.name)); break;
    }
  }
  return written.ok() ? kExitOk : kExitFailed;
}

int RunExtract(const ExtractOptions& o, Console& console) {
  std::unique_ptr<CSaveGame> opened = OpenSaveOrReport(o.source, console, o.open);
  if (!opened) return kExitFailed;
  const CSaveGame& save = *opened;
  if (!o.allDir.empty()) return WriteAll(save, o.allDir, /*force=*/true, false, console);

  std::optional<int> index = FindFile(save, o.name);
  if (!index) {
    console.Error("No file named " + Quoted(o.name) + " in the save");
    return kExitFailed;
  }
  FolderFileOutcome outcome = WriteEntryFile(save, *save.EntryAt(*index), o.output);
  if (outcome != FolderFileOutcome::kWritten) {
    console.Error(std::string(FolderFileMessage(outcome)));
    return kExitFailed;
  }
  return kExitOk;
}

int RunUnpack(const UnpackOptions& o, Console& console) {
  std::unique_ptr<CSaveGame> opened = OpenSaveOrReport(o.source, console, o.open);
  if (!opened) return kExitFailed;
  const SaveEntry& root = (*opened->entries)[0];
  std::string folder = io::SafeName(root.Name());
  if (folder != root.Name())
    console.Note("renamed: folder " + Quoted(root.Name()) + " is written as " + Quoted(folder));
  return WriteSaveFolder(*opened, io::JoinPath(o.dir, folder), o.force, console);
}

}  // namespace

int WriteSaveFolder(const CSaveGame& save, const std::string& folder, bool force, Console& console) {
  return WriteAll(save, folder, force, /*applyTimes=*/true, console);
}

void AddExtractCommands(CLI::App& app, Commands& commands) {
  auto extract = std::make_shared<ExtractOptions>();
  CLI::App* extractCmd = app.add_subcommand("extract", "Write files of a save as PC files");
  extractCmd->add_option("SRC", extract->source, "The save")->required();
  extractCmd->add_option("NAME", extract->name, "The file to extract");
  CLI::Option* outOpt = extractCmd->add_option("-o,--output", extract->output, "Where NAME goes");
  CLI::Option* allOpt =
      extractCmd->add_option("--all", extract->allDir, "Write every file into this folder");
  allOpt->excludes(outOpt);
  AddOpenOptions(extractCmd, extract->open);
  extractCmd->footer(
      "Names that are unsafe on a PC (separators, \"..\", device names like CON, characters\n"
      "Windows refuses) are written under a safe name, and the change is reported.\n"
      "Examples:\n"
      "  moravelt-cli extract game.psu icon.sys -o icon.sys\n"
      "  moravelt-cli extract game.max --all game-files");
  commands.push_back({extractCmd, [extract, allOpt](Console& console) {
                        bool all = allOpt->count() > 0;
                        bool bad = all ? !extract->name.empty()
                                       : (extract->name.empty() || extract->output.empty());
                        if (bad) {
                          console.Error("extract needs either NAME -o OUT or --all DIR\n"
                                        "Run with --help for more information.");
                          return kExitUsage;
                        }
                        return RunExtract(*extract, console);
                      }});

  auto unpack = std::make_shared<UnpackOptions>();
  CLI::App* unpackCmd =
      app.add_subcommand("unpack", "Write a save as a plain folder DIR/<save folder name>/");
  unpackCmd->add_option("SRC", unpack->source, "The save")->required();
  unpackCmd->add_option("DIR", unpack->dir, "Where the save's folder is made")->required();
  unpackCmd->add_flag("-f,--force", unpack->force, "Overwrite files that exist");
  AddOpenOptions(unpackCmd, unpack->open);
  unpackCmd->footer(
      "Unsafe names are changed and reported; modification times are applied.\n"
      "Examples:\n"
      "  moravelt-cli unpack game.max memcard/\n"
      "  moravelt-cli unpack --force game.psu memcard/");
  commands.push_back({unpackCmd, [unpack](Console& console) { return RunUnpack(*unpack, console); }});
}

}  // namespace cli
