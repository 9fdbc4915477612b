// The small text files of SD cards: the INI files of sd2psx (Game2Folder.ini, a card
// folder's <Folder>.ini) and Open PS2 Loader's per-game CFG files.
//
// An INI file is [Section] lines and key=value lines; section and key names compare
// without ASCII letter case, values keep their spaces inside, lines starting with ';' or
// '#' are comments. A CFG file is key=value lines; its "$VMC_0=" and "$VMC_1=" lines name
// the game's cards for slots 1 and 2 (without ".bin"). Every other line of a CFG file
// belongs to the loader and is kept byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sd {

// The files are small; anything larger is not one of them and is read as empty.
inline constexpr std::uint64_t kMaxTextFile = 1 << 20;

// The whole file, or none when it is missing, unreadable or larger than kMaxTextFile.
std::optional<std::string> ReadTextFile(const std::string& path);

class IniFile {
 public:
  static IniFile Parse(std::string_view text);
  static IniFile Read(const std::string& path);  // empty when it can't be read

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // The section's pairs in file order.
  std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;

 private:
  struct Line {
    std::string section, key, value;  // section and key folded to lower case
  };
  std::vector<Line> lines_;
};

// Game2Folder.ini (.sd2psx/Game2Folder.ini): games that share a card folder. Its [PS1] and
// [PS2] sections hold lines "SLES-82036=Folder Name"; a folder name is at most 31
// characters and may hold spaces.
class GameFolders {
 public:
  static GameFolders Read(const std::string& root);
  static GameFolders Parse(std::string_view text);
  // The card folder of a game: what Game2Folder.ini maps its ID to, else the ID itself.
  // A value that could leave the card's home folder (a separator, "." or "..") or is
  // longer than 31 characters or holds a control character is not taken.
  std::string FolderFor(bool ps1, std::string_view deviceId) const;

 private:
  std::map<std::string, std::string> ps1_, ps2_;
};

// A card folder's <Folder>.ini: [ChannelName] 1..8 = names, [Settings] MaxChannels=.
struct ChannelSettings {
  std::map<int, std::string> names;
  int maxChannels = 8;
};
ChannelSettings ParseChannelSettings(std::string_view text);

// What setting a "$VMC_<slot>=" line does to a CFG file.
enum class CfgChange {
  kCreated,     // there was no file: it is made with that one line
  kAdded,       // the line is added after the others
  kAlreadySet,  // the file names that card already
  kNamesOther,  // the file names another card there: left as it is
};
struct CfgEdit {
  CfgChange change = CfgChange::kAlreadySet;
  std::string text;      // the new contents, for kCreated and kAdded
  std::string existing;  // kNamesOther: the card it names
};
// `current` is the file's text, none when there is no file. A line added keeps the
// file's own line ending.
CfgEdit SetVmcLine(const std::optional<std::string>& current, int slot, std::string_view cardName);

}  // namespace sd
