#include "sd/find_cards.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "card/folder_card.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "sd/ini.h"

namespace sd {

namespace {

constexpr std::uint64_t kPs1CardBytes = 131072;

// The channel a card's name gives in its folder: "SLUS-20946-2" in SLUS-20946 gives 2;
// 0 when the name is not the folder's name and a channel number.
int ChannelOf(std::string_view stem, std::string_view folder) {
  if (stem.size() < folder.size() + 2 || !io::EqualsIgnoringCase(stem.substr(0, folder.size()), folder) ||
      stem[folder.size()] != '-')
    return 0;
  const std::string_view digits = stem.substr(folder.size() + 1);
  if (digits.empty() || digits.size() > 2) return 0;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

class Walker {
 public:
  explicit Walker(std::string root) : root_(std::move(root)) {}
  FoundCards Run();

 private:
  void Visit(const io::FolderItem& item, const std::vector<std::string>& parts);
  void AddSd2psx(const std::string& path, const std::vector<std::string>& parts, std::size_t memoryCards);
  void Add(const std::string& path, Layout layout, Console console, std::string folder, int channel);
  const ChannelSettings& SettingsOf(const std::string& folderPath, const std::string& folder);
  void AddHome(const io::FolderItem& item, const std::vector<std::string>& parts);
  void ReadPops();

  std::string root_;
  FoundCards found_;
  std::map<std::string, ChannelSettings> settings_;
  std::vector<PopsHome> homes_;
};

FoundCards Walker::Run() {
  std::size_t seen = 0;
  io::WalkTree(root_, [&](const io::TreeItem& tree) {
    if (++seen > kMaxEntries) {
      found_.truncated = true;
      return io::Walk::kStop;
    }
    const io::FolderItem& item = tree.item;
    const std::vector<std::string>& parts = tree.parts;
    if (item.kind == io::PathKind::kFolder) {
      // A folder card is a card, not a tree; the devices' settings hold no cards.
      const bool folderCard = io::Exists(io::JoinPath(item.path, card::kFolderSuperblock));
      if (folderCard) Add(item.path, Layout::kPcsx2, Console::kPs2, parts.back(), 0);
      AddHome(item, parts);
      const bool deep = parts.size() > static_cast<std::size_t>(kMaxDepth);
      return folderCard || parts.back() == ".sd2psx" || deep ? io::Walk::kSkip : io::Walk::kGo;
    }
    if (item.kind == io::PathKind::kFile) Visit(item, parts);
    return io::Walk::kGo;
  });
  std::sort(found_.cards.begin(), found_.cards.end(),
            [](const FoundCard& a, const FoundCard& b) { return a.relative < b.relative; });
  ReadPops();
  return std::move(found_);
}

void Walker::AddHome(const io::FolderItem& item, const std::vector<std::string>& parts) {
  const std::string& name = parts.back();
  const std::string parent = io::ParentOf(item.path);
  if (IsPopsHomeName(name)) {
    PopsHome& home = homes_.emplace_back(PopsHome{item.path, {item.path}});
    // __common/POPS: the games are in __.POPS beside __common.
    const std::string discs = io::JoinPath(io::ParentOf(parent), kInternalDiscs);
    if (parts.size() >= 2 && io::EqualsIgnoringCase(parts[parts.size() - 2], kInternalCommon) && io::IsFolder(discs))
      home.discs.push_back(discs);
  } else if (io::EqualsIgnoringCase(name, kInternalDiscs)) {
    // The internal disk's games, whose folders are made in __common/POPS, there or not yet.
    const std::string home = io::JoinPath(io::JoinPath(parent, kInternalCommon), "POPS");
    homes_.push_back({home, {home, item.path}});
  }
}

void Walker::ReadPops() {
  found_.pops = ReadPopsHomes(std::move(homes_));
  for (FoundCard& card : found_.cards) {
    if (card.layout != Layout::kPops) continue;
    const std::string folder = io::ParentOf(card.path);
    const std::string home = io::ParentOf(folder);
    for (const PopsGame& g : found_.pops.games) {
      if (g.home != home) continue;
      if (io::EqualsIgnoringCase(g.name, card.folder)) {
        card.gameId = g.gameId;
        if (g.cards != folder) card.redirectedTo = RelativePath(root_, g.cards);
      } else if (g.cards == folder) {
        card.sharedBy.push_back(g.name);
      }
    }
  }
}

void Walker::Visit(const io::FolderItem& item, const std::vector<std::string>& parts) {
  const std::string& path = item.path;
  const std::string name = parts.back();
  const std::string ext = io::FoldAscii(io::ExtensionOf(name));
  const std::string stem(io::StemOf(name));
  const std::string parent = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
  if (const int slot = PopsSlotOf(name); slot >= 0 && parts.size() >= 3 && IsPopsHomeName(parts[parts.size() - 3])) {
    Add(path, Layout::kPops, Console::kPs1, parent, slot + 1);
    return;
  }
  auto memoryCards = std::find_if(parts.begin(), parts.end(), [](const std::string& p) {
    return io::EqualsIgnoringCase(p, "MemoryCards");
  });
  if (memoryCards != parts.end() && memoryCards + 2 < parts.end()) {
    AddSd2psx(path, parts, static_cast<std::size_t>(memoryCards - parts.begin()));
    return;
  }
  if (ext == "mc2") {
    Add(path, Layout::kMemcardPro2, Console::kPs2, parent, ChannelOf(stem, parent));
  } else if (ext == "mcd") {
    const Console console = item.size == kPs1CardBytes ? Console::kPs1 : Console::kPs2;
    Add(path, Layout::kMemcardPro, console, parent, ChannelOf(stem, parent));
  } else if (ext == "bin" && io::EqualsIgnoringCase(parent, "VMC")) {
    Add(path, Layout::kOpl, Console::kPs2, stem, 0);
  } else if (ext == "ps2" || ext == "vm2" || ext == "vme") {
    Add(path, Layout::kPcsx2, Console::kPs2, name, 0);
  }
}

void Walker::AddSd2psx(const std::string& path, const std::vector<std::string>& parts, std::size_t memoryCards) {
  // MemoryCards/<home>/<folder>/<card>.mcd; a .bin there is a screen image.
  const std::string& name = parts.back();
  if (!io::EqualsIgnoringCase(io::ExtensionOf(name), "mcd")) return;
  const Console console = io::EqualsIgnoringCase(parts[memoryCards + 1], "PS1") ? Console::kPs1 : Console::kPs2;
  const std::string folder = parts[parts.size() - 2];
  const std::string stem(io::StemOf(name));
  int channel = ChannelOf(stem, folder);
  if (io::EqualsIgnoringCase(folder, "BOOT")) {
    channel = io::EqualsIgnoringCase(stem, "BootCard") ? 1 : ChannelOf(stem, "BootCard");
  }
  Add(path, Layout::kSd2psx, console, folder, channel);
  FoundCard& added = found_.cards.back();
  const auto& names = SettingsOf(io::ParentOf(path), folder).names;
  if (auto it = names.find(channel); it != names.end()) added.channelName = it->second;
}

void Walker::Add(const std::string& path, Layout layout, Console console, std::string folder, int channel) {
  FoundCard card;
  card.path = path;
  card.relative = RelativePath(root_, card.path);
  card.layout = layout;
  card.console = console;
  card.folder = std::move(folder);
  card.channel = channel;
  found_.cards.push_back(std::move(card));
}

const ChannelSettings& Walker::SettingsOf(const std::string& folderPath, const std::string& folder) {
  const std::string& key = folderPath;
  auto it = settings_.find(key);
  if (it == settings_.end()) {
    const auto text = ReadTextFile(io::JoinPath(key, folder + ".ini"));
    it = settings_.emplace(key, ParseChannelSettings(text.value_or(std::string()))).first;
  }
  return it->second;
}

}  // namespace

std::string RelativePath(const std::string& root, const std::string& path) {
  std::string relative = io::RelativePath(path, root);
  if (relative.empty() || relative == ".") relative = path;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return relative;
}

FoundCards FindCards(const std::string& root) { return Walker(root).Run(); }

}  // namespace sd
