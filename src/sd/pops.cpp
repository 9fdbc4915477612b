#include "sd/pops.h"

#include <algorithm>
#include <map>
#include <optional>

#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "sd/ini.h"
#include "sd/vcd.h"

namespace sd {

namespace {

// A POPS folder holds a game's folder and .VCD file per game: this many names are looked
// at in each, so that a strange folder costs in proportion to what it holds.
constexpr std::size_t kMaxHomeItems = 20000;

std::string_view WithoutLineEnd(std::string_view text) {
  if (text.ends_with("\r\n")) return text.substr(0, text.size() - 2);
  if (text.ends_with('\n')) return text.substr(0, text.size() - 1);
  return text;
}

// The names in a POPS folder: its real folders (links left out), by their names folded to
// lower case, and its .VCD files.
struct HomeListing {
  std::map<std::string, std::string> folders;  // folded name -> name
  std::vector<std::string> links;              // folded names of links
  std::vector<std::string> discs;              // paths of .VCD files
};

HomeListing List(const std::string& folder, bool withFolders) {
  HomeListing listing;
  std::size_t seen = 0;
  io::ForEachInFolder(folder, [&](const io::FolderItem& item) {
    if (++seen > kMaxHomeItems) return false;
    if (withFolders && item.link) listing.links.push_back(io::FoldAscii(item.name));
    else if (withFolders && item.kind == io::PathKind::kFolder) listing.folders.emplace(io::FoldAscii(item.name), item.name);
    if (!item.link && item.kind == io::PathKind::kFile && io::EqualsIgnoringCase(io::ExtensionOf(item.name), "vcd"))
      listing.discs.push_back(item.path);
    return true;
  });
  return listing;
}

class HomeReader {
 public:
  HomeReader(const PopsHome& home, PopsTree& tree) : home_(home), tree_(tree), listing_(List(home.path, true)) {}
  void Run();

 private:
  // The folder a VMCDIR.TXT in `folder` sends to, when there is one and it is followed.
  std::optional<std::string> RedirectIn(const std::string& folder);
  // The name a folder of the home goes by on the disk: the folder there whose name differs
  // only in letter case, or the name itself.
  std::string ActualName(const std::string& name) const {
    const auto it = listing_.folders.find(io::FoldAscii(name));
    return it == listing_.folders.end() ? name : it->second;
  }

  const PopsHome& home_;
  PopsTree& tree_;
  HomeListing listing_;
  std::map<std::string, std::optional<std::string>> redirects_;  // by folder path
};

std::optional<std::string> HomeReader::RedirectIn(const std::string& folder) {
  if (const auto it = redirects_.find(folder); it != redirects_.end()) return it->second;
  std::optional<std::string>& followed = redirects_[folder];
  const std::string path = io::JoinPath(folder, kVmcDirName);
  if (io::OwnKindOf(path) != io::PathKind::kFile) return followed;
  const std::uint64_t size = io::FileSize(path).value_or(0);
  VmcDir dir;
  if (size > kMaxVmcDirBytes) {
    dir.problem = "a file of " + std::to_string(size) + " bytes, over the 103 POPStarter reads: it ignores it";
  } else if (const std::optional<std::string> text = ReadTextFile(path)) {
    dir = ParseVmcDir(*text);
  } else {
    dir.problem = "can't be read";
  }
  if (dir.problem.empty()) {
    const std::string folded = io::FoldAscii(dir.folder);
    if (std::find(listing_.links.begin(), listing_.links.end(), folded) != listing_.links.end())
      dir.problem = "names a link, which may lead out of POPS";
    else if (io::KindOf(io::JoinPath(home_.path, dir.folder)) == io::PathKind::kFile)
      dir.problem = "names a file, not a folder";
  }
  if (!dir.problem.empty()) {
    tree_.findings.push_back({path, dir.problem});
    return followed;
  }
  followed = ActualName(dir.folder);
  return followed;
}

void HomeReader::Run() {
  const std::optional<std::string> shared = RedirectIn(home_.path);
  std::map<std::string, std::optional<std::string>> own;  // by folded game folder name
  for (const auto& [folded, name] : listing_.folders) own[folded] = RedirectIn(io::JoinPath(home_.path, name));
  std::vector<std::string> discs;
  for (const std::string& folder : home_.discs) {
    const HomeListing found = folder == home_.path ? listing_ : List(folder, false);
    discs.insert(discs.end(), found.discs.begin(), found.discs.end());
  }
  for (const std::string& vcd : discs) {
    PopsGame& g = tree_.games.emplace_back();
    g.name = std::string(io::StemOf(io::FileNameOf(vcd)));
    g.vcd = vcd;
    g.home = home_.path;
    const DiscId disc = ReadVcdGameIdFile(vcd);
    g.gameId = disc.id;
    g.discProblem = disc.problem;
    const std::string folder = ActualName(g.name);
    const auto mine = own.find(io::FoldAscii(folder));
    std::string used = folder;
    if (mine != own.end() && mine->second) {
      used = *mine->second;
      g.redirect = io::JoinPath(io::JoinPath(home_.path, folder), kVmcDirName);
    } else if (shared) {
      used = *shared;
      g.redirect = io::JoinPath(home_.path, kVmcDirName);
    }
    g.cards = io::JoinPath(home_.path, used);
  }
}

}  // namespace

bool IsPopsHomeName(std::string_view name) {
  if (name.size() < 4 || !io::EqualsIgnoringCase(name.substr(0, 4), "POPS")) return false;
  return name.size() == 4 || (name.size() == 5 && name[4] >= '0' && name[4] <= '9');
}

int PopsSlotOf(std::string_view name) {
  for (int slot = 0; slot < 2; ++slot)
    if (io::EqualsIgnoringCase(name, PopsSlotName(slot))) return slot;
  return -1;
}

std::string PopsSlotName(int slot) { return "SLOT" + std::to_string(slot) + ".VMC"; }

VmcDir ParseVmcDir(std::string_view bytes) {
  VmcDir dir;
  const std::string_view name = WithoutLineEnd(bytes);
  if (bytes.size() > kMaxVmcDirBytes)
    dir.problem = "a file of " + std::to_string(bytes.size()) + " bytes, over the 103 POPStarter reads: it ignores it";
  else if (name.find_first_of("\r\n") != std::string_view::npos)
    dir.problem = "more than one line: POPStarter ignores it";
  else if (name.find_first_of("/\\:") != std::string_view::npos)
    dir.problem = "holds '/', '\\' or ':': POPStarter ignores it";
  else if (name.empty())
    dir.problem = "names no folder";
  else if (name == "." || name == "..")
    dir.problem = "\"" + std::string(name) + "\" leaves POPS: refused";
  else if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    dir.problem = "holds a control character";
  else
    dir.folder = std::string(name);
  return dir;
}

PopsTree ReadPopsHomes(std::vector<PopsHome> homes) {
  // One home for each path, its disc folders gathered.
  std::map<std::string, std::vector<std::string>> discs;
  for (PopsHome& home : homes) {
    std::vector<std::string>& all = discs[home.path];
    for (std::string& d : home.discs)
      if (std::find(all.begin(), all.end(), d) == all.end()) all.push_back(std::move(d));
  }
  PopsTree tree;
  for (auto& [path, folders] : discs) {
    tree.homes.push_back({path, std::move(folders)});
    HomeReader(tree.homes.back(), tree).Run();
  }
  std::sort(tree.games.begin(), tree.games.end(), [](const PopsGame& a, const PopsGame& b) { return a.vcd < b.vcd; });
  std::sort(tree.findings.begin(), tree.findings.end(), [](const PopsFinding& a, const PopsFinding& b) { return a.file < b.file; });
  return tree;
}

}  // namespace sd
