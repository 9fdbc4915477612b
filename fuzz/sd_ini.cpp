// The small text files of an SD card from hostile bytes, read as the program reads them:
// the same bytes stand for sd2psx's Game2Folder.ini, a card folder's <Folder>.ini and Open
// PS2 Loader's CFG file of a game, and go through what split and merge do with each.
//
// What must hold whatever the text: a game's card folder stays inside the card's home (as
// the system sees the name, which ends at a NUL); a card folder has 1 to 8 channels, named
// among 1..8; setting a "$VMC_" line keeps every other line of the CFG byte for byte, and
// setting it again finds it set.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "io/path.h"
#include "sd/ini.h"
#include "sd/places.h"

namespace {

constexpr std::string_view kStartup = "SLUS_209.46";

struct Tree {
  std::string root, game2folder, channels, cfg;
};

// An SD card in the scratch folder with the three files' places.
const Tree& SdTree() {
  static const Tree tree = [] {
    Tree t;
    t.root = io::JoinPath(fuzz::ScratchDir(), "sd");
    for (const char* dir : {".sd2psx", "MemoryCards/PS2/SLUS-20946", "CFG"})
      std::filesystem::create_directories(io::ToFsPath(io::JoinPath(t.root, dir)));
    t.game2folder = io::JoinPath(t.root, ".sd2psx/Game2Folder.ini");
    t.channels = io::JoinPath(t.root, "MemoryCards/PS2/SLUS-20946/SLUS-20946.ini");
    t.cfg = io::JoinPath(t.root, sd::OplCfgPath(kStartup));
    return t;
  }();
  return tree;
}

void Put(const std::string& path, const std::uint8_t* data, std::size_t size) {
  io::File out = io::File::OpenWrite(path);
  if (!out || !out.Write(data, size) || !out.Close()) fuzz::Require("the input can't be written to " + path, "setup");
}

// The folder a split makes for the game, as the system will read the name.
void CheckFolder(const sd::GameFolders& folders, bool ps1, const std::string& id) {
  const std::string folder = folders.FolderFor(ps1, id);
  if (folder == id) return;
  const std::string seen = folder.substr(0, folder.find('\0'));
  if (seen.empty() || seen == "." || seen == ".." || seen.find_first_of("/\\:") != std::string::npos ||
      folder.size() > 31)
    fuzz::Require("the game " + id + " is given the folder \"" + folder + "\"", "Game2Folder.ini");
}

void CheckGameFolders(const std::string& path) {
  const sd::GameFolders folders = sd::GameFolders::Read(SdTree().root);
  const sd::IniFile ini = sd::IniFile::Read(path);
  for (const bool ps1 : {true, false}) {
    CheckFolder(folders, ps1, "SLUS-20946");
    for (const auto& [key, value] : ini.Section(ps1 ? "PS1" : "PS2")) {
      std::string id = key;
      for (char& c : id) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      CheckFolder(folders, ps1, id);
    }
  }
}

void CheckChannels(const std::string& path) {
  const sd::ChannelSettings s = sd::ParseChannelSettings(sd::ReadTextFile(path).value_or(std::string()));
  if (s.maxChannels < 1 || s.maxChannels > 8) fuzz::Require("MaxChannels " + std::to_string(s.maxChannels), "channels");
  for (const auto& [channel, name] : s.names)
    if (channel < 1 || channel > 8 || name.empty()) fuzz::Require("channel " + std::to_string(channel) + " named", "channels");
}

// The text's lines, each with its ending.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

void CheckCfg(const std::string& path) {
  const std::optional<std::string> current = sd::ReadTextFile(path);
  if (!current) return fuzz::Require("the CFG file can't be read back", "setup");
  for (int slot = 0; slot < 2; ++slot) {
    const std::string card = sd::OplCardName(kStartup, slot);
    const std::string key = "$VMC_" + std::to_string(slot) + "=";
    const sd::CfgEdit edit = sd::SetVmcLine(current, slot, card);
    switch (edit.change) {
      case sd::CfgChange::kCreated: fuzz::Require("a file that is there made anew", "CFG"); break;
      case sd::CfgChange::kAlreadySet: break;
      case sd::CfgChange::kNamesOther:
        if (edit.existing.empty() || edit.existing == card) fuzz::Require("names another card: \"" + edit.existing + "\"", "CFG");
        break;
      case sd::CfgChange::kAdded: {
        // The old lines, the slot's own left out, are still there in order and whole (the
        // last one may have gained its ending).
        const std::vector<std::string> after = Lines(edit.text);
        std::size_t k = 0;
        for (std::string line : Lines(*current)) {
          if (line.starts_with(key)) continue;
          while (k < after.size() && after[k] != line && !(line.back() != '\n' && after[k].starts_with(line))) ++k;
          if (k++ == after.size()) fuzz::Require("the line \"" + line + "\" went", "CFG");
        }
        const sd::CfgEdit again = sd::SetVmcLine(edit.text, slot, card);
        if (again.change != sd::CfgChange::kAlreadySet) fuzz::Require("the line set is not found set", "CFG");
        break;
      }
    }
  }
  // What merge reads of the file.
  const sd::IniFile ini = sd::IniFile::Read(path);
  for (int slot = 0; slot < 2; ++slot) ini.Get("", "$VMC_" + std::to_string(slot));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Tree& tree = SdTree();
  for (const std::string* path : {&tree.game2folder, &tree.channels, &tree.cfg}) Put(*path, data, size);
  CheckGameFolders(tree.game2folder);
  CheckChannels(tree.channels);
  CheckCfg(tree.cfg);
  return 0;
}
