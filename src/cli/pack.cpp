// pack: a new save from the files of a PC folder.
#include <algorithm>
#include <system_error>

#include "card/folder_card.h"
#include "card/prepare.h"
#include "cli/command.h"
#include "formats/messages.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "io/folder.h"

namespace cli {

namespace {


struct PackOptions {
  std::string dir;
  std::string target;
  std::string name;  // the folder name; DIR's own name when empty
};

// An 8 MiB memory card: 8192 clusters of 1 KiB. A directory entry takes 512 bytes (two
// per cluster), a file's data whole clusters.
constexpr std::uint64_t kCardClusters = 8192;
constexpr std::uint64_t kCardBytes = card::kClusterSize * kCardClusters;

std::string FolderNameOf(const std::string& dir) {
  std::string name(io::FileNameOf(io::AbsolutePath(dir)));
  return name;
}

bool ValidFolderName(const std::string& name) { return !name.empty() && name.size() <= kNameChars; }

std::string FolderNameMessage(const std::string& name) {
  return "The save folder's name " + Quoted(name) + " must have 1 to 32 characters";
}

int RunPack(const PackOptions& o, Console& console) {
  if (!io::IsFolder(o.dir)) {
    console.Error("Not a folder: " + Quoted(o.dir));
    return kExitFailed;
  }
  const FormatFamily* family = TargetFamilyForExtension(ExtensionOf(o.target));
  if (!family) {
    console.Error(messages::kUnknownFileType);
    return kExitFailed;
  }
  std::string folder = o.name.empty() ? FolderNameOf(o.dir) : o.name;
  if (!ValidFolderName(folder)) {
    console.Error(FolderNameMessage(folder) + (o.name.empty() ? " (--name gives another)" : ""));
    return kExitFailed;
  }
  Opened read = ReadSaveFolder(o.dir, folder);
  if (!read.save) {
    console.Error(read.error);
    return kExitFailed;
  }
  CSaveGame& save = *read.save;
  const std::uint64_t files = static_cast<std::uint64_t>(save.FileCount());
  std::uint64_t clusters = card::ClustersFor((files + 2) * 512);
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry& e = *save.EntryAt(i);
    if (e.size > kCardBytes) {
      console.Error("The file " + Quoted(e.Name()) + " (" + std::to_string(e.size) +
                    " bytes) is larger than a memory card can hold (8 MiB)");
      return kExitFailed;
    }
    clusters += card::ClustersFor(e.size);
  }
  if (clusters > kCardClusters) {
    console.Error("The files need " + std::to_string(clusters) +
                  " KiB, more than a memory card can hold (8192 KiB)");
    return kExitFailed;
  }

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

Opened ReadSaveFolder(const std::string& dir, const std::string& name) {
  Opened opened;
  if (!io::IsFolder(dir)) {
    opened.error = "Not a folder: " + Quoted(dir);
    return opened;
  }
  const std::string folder = name.empty() ? FolderNameOf(dir) : name;
  if (!ValidFolderName(folder)) {
    opened.error = FolderNameMessage(folder);
    return opened;
  }
  if (io::Exists(io::JoinPath(dir, card::kFolderSuperblock))) {
    opened.error = "The folder is a PCSX2 folder card: name a save on it as CARD:FOLDER";
    return opened;
  }
  // A save folder of a PCSX2 folder card holds the emulator's own files beside the save's.
  if (io::Exists(io::JoinPath(dir, card::kFolderIndex))) {
    opened.error = "The folder is a save on a PCSX2 folder card: name it as CARD:FOLDER";
    return opened;
  }

  struct PcFile {
    std::string name;
    std::string path;
  };
  std::vector<PcFile> files;
  const bool listed = io::ForEachInFolder(dir, [&](const io::FolderItem& item) {
    if (item.kind == io::PathKind::kFolder)
      opened.error = "The folder holds a subfolder, " + Quoted(item.name) + ": a save holds files only";
    else if (item.kind != io::PathKind::kFile)
      opened.error = Quoted(item.name) + " is not a regular file";
    else
      files.push_back(PcFile{item.name, item.path});
    return opened.error.empty();
  });
  if (!opened.error.empty()) return opened;
  if (!listed) {
    opened.error = std::string(messages::kCannotReadFile) + ": " + Quoted(dir);
    return opened;
  }
  if (files.empty()) {
    opened.error = "The folder holds no files";
    return opened;
  }
  // Counted before any file is measured or added, each of which costs a pass over the table.
  if (files.size() > kMaxSaveFiles) {
    opened.error = "The folder holds " + std::to_string(files.size()) +
                   " files; a memory card directory holds at most " + std::to_string(kMaxSaveFiles);
    return opened;
  }
  std::sort(files.begin(), files.end(), [](const PcFile& a, const PcFile& b) { return a.name < b.name; });

  auto save = std::make_unique<CGeneric>();
  for (const PcFile& f : files) {
    if (f.name.size() > kNameChars) {
      opened.error = "The file name " + Quoted(f.name) + " has more than 32 characters";
      return opened;
    }
    if (!save->AddEntryFromDisk(f.path, f.name)) {
      opened.error = std::string(messages::kCannotReadFile) + ": " + Quoted(f.name);
      return opened;
    }
  }
  save->SetName(-1, folder);
  opened.save = std::move(save);
  return opened;
}

void AddPackCommand(CLI::App& app, Commands& commands) {
  auto pack = std::make_shared<PackOptions>();
  CLI::App* cmd =
      app.add_subcommand("pack", "Make a save from the files of a folder (in name order)");
  cmd->add_option("DIR", pack->dir, "The folder; it names the save unless --name")->required();
  cmd->add_option("DST", pack->target, "The save to write: " + TargetExtensions(", ", " or ", PlayStation::kPs2))
      ->required();
  cmd->add_option("--name", pack->name, "The save folder's name (at most 32 characters)");
  cmd->footer(
      "Refused: subfolders, names over 32 characters, a file over 8 MiB, more files or\n"
      "bytes than an 8 MiB memory card holds, a save folder of a PCSX2 folder card (name\n"
      "that as CARD:FOLDER with convert).\n"
      "Examples:\n"
      "  moravelt-cli pack memcard/BESLES-12345SAVE game.psu\n"
      "  moravelt-cli pack files/ game.xps --name BESLES-12345SAVE");
  commands.push_back({cmd, [pack](Console& console) { return RunPack(*pack, console); }});
}

}  // namespace cli
