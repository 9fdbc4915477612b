// extract and unpack: a save's files as PC files.
#include <filesystem>
#include <system_error>

#include "cli/command.h"
#include "cli/platform.h"
#include "cli/safe_name.h"
#include "formats/messages.h"
#include "formats/output_file.h"
#include "io/file.h"
#include "model/entry_data.h"

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

// Writes one entry's bytes to path through a temporary file, so that a path that is also
// the entry's own source (the container, or its PC file) is read whole before it is
// replaced. Returns the message for a failure, empty on success.
std::string WriteEntry(const CSaveGame& save, const SaveEntry& entry, const std::string& path) {
  OutputFile out(path, /*inPlace=*/false);
  if (!out.ok()) return std::string(messages::kCannotWriteFile);
  DataResult r = CopyEntryData(entry, save.sourcePath, [&out](std::span<const std::uint8_t> piece) {
    return out.Write(piece);
  });
  if (r == DataResult::kOpenFailed || r == DataResult::kShort) {
    out.Fail();
    out.Commit();
    return std::string(messages::kCannotReadFile);
  }
  if (r != DataResult::kOk || out.Commit() != LoadResult::kOk) return std::string(messages::kCannotWriteFile);
  return {};
}

bool MakeFolder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(io::ToFsPath(dir), ec);
  return std::filesystem::is_directory(io::ToFsPath(dir), ec);
}

// Writes every file of the save into dir under safe, distinct names. Names that had to
// change are reported; existing files are kept unless force. Returns the exit code.
int WriteAll(const CSaveGame& save, const std::string& dir, bool force, bool applyTimes,
             Console& console) {
  if (!MakeFolder(dir)) {
    console.Error(std::string(messages::kCannotWriteFile) + ": " + Quoted(dir));
    return kExitFailed;
  }
  SafeNamer namer;
  int failures = 0;
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry& e = *save.EntryAt(i);
    std::string name(e.FullName());
    std::string safe = namer.Next(name);
    if (namer.changed())
      console.Note("renamed: " + Quoted(name) + " is written as " + Quoted(safe));
    std::string path = JoinPath(dir, safe);
    if (!force && io::Exists(path)) {
      console.Error("exists, not overwritten (use --force): " + Quoted(path));
      ++failures;
      continue;
    }
    std::string error = WriteEntry(save, e, path);
    if (!error.empty()) {
      console.Error(error + ": " + Quoted(name));
      ++failures;
      continue;
    }
    if (applyTimes) platform::SetModifiedTime(path, e.modified);
    console.out << path << '\n';
  }
  return failures == 0 ? kExitOk : kExitFailed;
}

int RunExtract(const ExtractOptions& o, Console& console) {
  Opened opened = OpenSave(o.source, console, o.open);
  if (!opened.save) {
    console.Error(opened.error);
    return kExitFailed;
  }
  const CSaveGame& save = *opened.save;
  if (!o.allDir.empty()) return WriteAll(save, o.allDir, /*force=*/true, false, console);

  std::optional<int> index = FindFile(save, o.name);
  if (!index) {
    console.Error("No file named " + Quoted(o.name) + " in the save");
    return kExitFailed;
  }
  std::string error = WriteEntry(save, *save.EntryAt(*index), o.output);
  if (!error.empty()) {
    console.Error(error);
    return kExitFailed;
  }
  return kExitOk;
}

int RunUnpack(const UnpackOptions& o, Console& console) {
  Opened opened = OpenSave(o.source, console, o.open);
  if (!opened.save) {
    console.Error(opened.error);
    return kExitFailed;
  }
  const SaveEntry& root = (*opened.save->entries)[0];
  std::string folder = SafeName(root.Name());
  if (folder != root.Name())
    console.Note("renamed: folder " + Quoted(root.Name()) + " is written as " + Quoted(folder));
  return WriteSaveFolder(*opened.save, JoinPath(o.dir, folder), o.force, console);
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
  return io::FromFsPath(io::ToFsPath(dir) / io::ToFsPath(name));
}

int WriteSaveFolder(const CSaveGame& save, const std::string& folder, bool force, Console& console) {
  int code = WriteAll(save, folder, force, /*applyTimes=*/true, console);
  // Last, since writing the files changed the folder's time.
  platform::SetModifiedTime(folder, (*save.entries)[0].modified);
  return code;
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
