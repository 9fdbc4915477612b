#include "sd/ini.h"

#include <algorithm>

#include "io/file.h"
#include "io/path.h"

namespace sd {

namespace {

constexpr std::size_t kMaxFolderName = 31;
constexpr std::string_view kSpaces = " \t";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpaces) - first + 1);
}

// Calls visit(line) for each line, without its ending.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// A control character has no place in a name on the card's FAT file system, and a NUL
// would end the name where the system reads it ("..\0" is "..").
bool SafeFolderName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxFolderName && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string_view::npos &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

std::optional<std::string> ReadTextFile(const std::string& path) {
  io::File f = io::File::OpenRead(path);
  if (!f) return std::nullopt;
  std::optional<std::uint64_t> length = f.Length();
  if (!length || *length > kMaxTextFile) return std::nullopt;
  std::string text(static_cast<std::size_t>(*length), '\0');
  if (!f.ReadExact(text.data(), text.size())) return std::nullopt;
  return text;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  std::string section;
  ForEachLine(text, [&](std::string_view raw) {
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') return;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      section = io::FoldAscii(Trim(line.substr(1, close == std::string_view::npos ? line.size() : close - 1)));
      return;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    ini.lines_.push_back({section, io::FoldAscii(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
  });
  return ini;
}

IniFile IniFile::Read(const std::string& path) { return Parse(ReadTextFile(path).value_or(std::string())); }

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const std::string s = io::FoldAscii(section), k = io::FoldAscii(key);
  for (const Line& l : lines_)
    if (l.section == s && l.key == k) return l.value;
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniFile::Section(std::string_view section) const {
  const std::string s = io::FoldAscii(section);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const Line& l : lines_)
    if (l.section == s) pairs.emplace_back(l.key, l.value);
  return pairs;
}

GameFolders GameFolders::Read(const std::string& root) {
  return Parse(ReadTextFile(io::JoinPath(io::JoinPath(root, ".sd2psx"), "Game2Folder.ini")).value_or(std::string()));
}

GameFolders GameFolders::Parse(std::string_view text) {
  GameFolders folders;
  const IniFile ini = IniFile::Parse(text);
  // Keys are folded by the reader; IDs are kept in capitals, as devices write them.
  auto fill = [&ini](std::string_view section, std::map<std::string, std::string>& map) {
    for (const auto& [key, value] : ini.Section(section)) {
      std::string id = key;
      std::transform(id.begin(), id.end(), id.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
      if (SafeFolderName(value)) map.emplace(id, value);
    }
  };
  fill("PS1", folders.ps1_);
  fill("PS2", folders.ps2_);
  return folders;
}

std::string GameFolders::FolderFor(bool ps1, std::string_view deviceId) const {
  const auto& map = ps1 ? ps1_ : ps2_;
  auto it = map.find(std::string(deviceId));
  return it != map.end() ? it->second : std::string(deviceId);
}

ChannelSettings ParseChannelSettings(std::string_view text) {
  ChannelSettings settings;
  const IniFile ini = IniFile::Parse(text);
  for (const auto& [key, value] : ini.Section("ChannelName")) {
    if (key.size() == 1 && key[0] >= '1' && key[0] <= '8' && !value.empty()) settings.names[key[0] - '0'] = value;
  }
  if (std::optional<std::string> max = ini.Get("Settings", "MaxChannels")) {
    if (max->size() == 1 && (*max)[0] >= '1' && (*max)[0] <= '8') settings.maxChannels = (*max)[0] - '0';
  }
  return settings;
}

CfgEdit SetVmcLine(const std::optional<std::string>& current, int slot, std::string_view cardName) {
  const std::string key = "$VMC_" + std::to_string(slot) + "=";
  CfgEdit edit;
  if (!current) {
    edit.change = CfgChange::kCreated;
    edit.text = key + std::string(cardName) + "\n";
    return edit;
  }
  const std::string& text = *current;
  const std::size_t firstEnd = text.find('\n');
  const std::string ending = firstEnd != std::string::npos && firstEnd > 0 && text[firstEnd - 1] == '\r' ? "\r\n" : "\n";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(key)) {
      const std::string_view value = Trim(line.substr(key.size()));
      if (value == cardName) return edit;
      if (!value.empty()) {
        edit.change = CfgChange::kNamesOther;
        edit.existing = std::string(value);
        return edit;
      }
      // An empty line for the slot names no card: it gets this one.
      edit.change = CfgChange::kAdded;
      edit.text = text.substr(0, at) + key + std::string(cardName) + text.substr(at + line.size());
      return edit;
    }
    at = end + 1;
  }
  edit.change = CfgChange::kAdded;
  edit.text = text;
  if (!edit.text.empty() && edit.text.back() != '\n') edit.text += ending;
  edit.text += key + std::string(cardName) + ending;
  return edit;
}

}  // namespace sd
