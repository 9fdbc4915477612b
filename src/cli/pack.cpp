// pack: a new save from the files of a PC folder.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/command.h"
#include "formats/messages.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

struct PackOptions {
  std::string dir;
  std::string target;
  std::string name;  // the folder name; DIR's own name when empty
};

// An 8 MiB memory card: 8192 clusters of 1 KiB. A directory entry takes 512 bytes (two
// per cluster), a file's data whole clusters.
constexpr std::uint64_t kClusterSize = 1024;
constexpr std::uint64_t kCardClusters = 8192;
constexpr std::uint64_t kCardBytes = kClusterSize * kCardClusters;
// The directory's own "." and ".." take two entries; the rest of the card could hold
// nothing but entries.
constexpr std::uint64_t kMaxFiles = kCardClusters * 2 - 2;

std::uint64_t Clusters(std::uint64_t bytes) { return (bytes + kClusterSize - 1) / kClusterSize; }

struct PcFile {
  std::string name;
  std::string path;
  std::uint64_t size = 0;
};

std::string FolderNameOf(const std::string& dir) {
  fs::path p = io::ToFsPath(dir).lexically_normal();
  if (p.filename().empty()) p = p.parent_path();
  std::string name = io::FromFsPath(p.filename());
  if (name.empty() || name == "." || name == "..") {
    std::error_code ec;
    name = io::FromFsPath(fs::absolute(p, ec).lexically_normal().filename());
  }
  return name;
}

int RunPack(const PackOptions& o, Console& console) {
  std::error_code ec;
  fs::path dir = io::ToFsPath(o.dir);
  if (!fs::is_directory(dir, ec)) {
    console.Error("Not a folder: " + Quoted(o.dir));
    return kExitFailed;
  }
  const FormatFamily* family = TargetFamilyForExtension(ExtensionOf(o.target));
  if (!family) {
    console.Error(messages::kUnknownFileType);
    return kExitFailed;
  }
  std::string folder = o.name.empty() ? FolderNameOf(o.dir) : o.name;
  if (folder.empty() || folder.size() > kNameChars) {
    console.Error("The save folder's name " + Quoted(folder) + " must have 1 to 32 characters" +
                  (o.name.empty() ? " (--name gives another)" : ""));
    return kExitFailed;
  }

  std::vector<PcFile> files;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = io::FromFsPath(it->path().filename());
    std::error_code typeEc;
    if (it->is_directory(typeEc)) {
      console.Error("The folder holds a subfolder, " + Quoted(name) +
                    ": a save holds files only");
      return kExitFailed;
    }
    if (!it->is_regular_file(typeEc)) {
      console.Error(Quoted(name) + " is not a regular file");
      return kExitFailed;
    }
    files.push_back(PcFile{name, io::FromFsPath(it->path()), 0});
  }
  if (ec) {
    console.Error(std::string(messages::kCannotReadFile) + ": " + Quoted(o.dir));
    return kExitFailed;
  }
  if (files.empty()) {
    console.Error("The folder holds no files");
    return kExitFailed;
  }
  if (files.size() > kMaxFiles) {
    console.Error("The folder holds " + std::to_string(files.size()) +
                  " files; a memory card directory holds at most " + std::to_string(kMaxFiles));
    return kExitFailed;
  }
  std::sort(files.begin(), files.end(),
            [](const PcFile& a, const PcFile& b) { return a.name < b.name; });

  std::uint64_t clusters = Clusters((files.size() + 2) * 512);
  for (PcFile& f : files) {
    if (f.name.size() > kNameChars) {
      console.Error("The file name " + Quoted(f.name) + " has more than 32 characters");
      return kExitFailed;
    }
    auto size = io::FileSize(f.path);
    if (!size) {
      console.Error(std::string(messages::kCannotReadFile) + ": " + Quoted(f.name));
      return kExitFailed;
    }
    f.size = *size;
    if (f.size > kCardBytes) {
      console.Error("The file " + Quoted(f.name) + " (" + std::to_string(f.size) +
                    " bytes) is larger than a memory card can hold (8 MiB)");
      return kExitFailed;
    }
    clusters += Clusters(f.size);
  }
  if (clusters > kCardClusters) {
    console.Error("The files need " + std::to_string(clusters) +
                  " KiB, more than a memory card can hold (8192 KiB)");
    return kExitFailed;
  }

  CGeneric save;
  for (const PcFile& f : files) {
    if (!save.AddEntryFromDisk(f.path, f.name)) {
      console.Error(std::string(messages::kCannotReadFile) + ": " + Quoted(f.name));
      return kExitFailed;
    }
  }
  save.SetName(-1, folder);

  SaveWrite outcome = WriteSaveAs(save, *family, o.target);
  if (!outcome.ok()) {
    console.Error(WriteFailure(outcome));
    return kExitFailed;
  }
  // The save's times are those of this run and its modes the defaults: an ARMAX file
  // drops nothing worth a warning, a PS3 export's name still matters.
  NoteWriteCaveats(save, *family, o.target, console, /*converted=*/false);
  return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, Commands& commands) {
  auto pack = std::make_shared<PackOptions>();
  CLI::App* cmd =
      app.add_subcommand("pack", "Make a save from the files of a folder (in name order)");
  cmd->add_option("DIR", pack->dir, "The folder; it names the save unless --name")->required();
  cmd->add_option("DST", pack->target, "The save to write: " + TargetExtensions(", ", " or "))
      ->required();
  cmd->add_option("--name", pack->name, "The save folder's name (at most 32 characters)");
  cmd->footer(
      "Refused: subfolders, names over 32 characters, a file over 8 MiB, more files or\n"
      "bytes than an 8 MiB memory card holds.\n"
      "Examples:\n"
      "  moravelt-cli pack memcard/BESLES-12345SAVE game.psu\n"
      "  moravelt-cli pack files/ game.xps --name BESLES-12345SAVE");
  commands.push_back({cmd, [pack](Console& console) { return RunPack(*pack, console); }});
}

}  // namespace cli
