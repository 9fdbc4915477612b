#include "card/prepare.h"

#include <new>
#include <set>

#include "card/card_messages.h"
#include "card/card_save.h"
#include "card/card_time.h"
#include "formats/ps1/ps1_save.h"
#include "model/entry_data.h"

namespace card {

namespace {

constexpr std::uint32_t kModeMask = 0xFFFF;  // the card stores 16 bits of mode

// Why a name can't be a card entry's, or empty when it can.
std::string NameProblem(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (name.size() > dirent::kNameSize) return "a name longer than 32 characters";
  if (name == "." || name == "..") return "the name \"" + std::string(name) + "\"";
  if (name.find('/') != std::string_view::npos) return "a name with \"/\"";
  return {};
}

}  // namespace

ImportResult PrepareSave(const CSaveGame& save, const EntryTime& now, PreparedSave& out,
                         std::string& detail) {
  out = PreparedSave{};
  out.now = now;
  if (!save.entries || save.entries->empty()) {
    detail = "the save has no entries";
    return ImportResult::kInvalidSave;
  }
  if (::ps1::IsPs1(save)) {
    detail = std::string(messages::kPs1OnPs2Card);
    return ImportResult::kOtherConsole;
  }
  const EntryTable& table = *save.entries;
  const SaveEntry& root = table[0];
  if (std::string problem = NameProblem(root.Name()); !problem.empty()) {
    detail = "the folder has " + problem;
    return ImportResult::kInvalidSave;
  }

  DirEntry& dir = out.directory;
  dir.mode = root.mode & kModeMask;
  if (dir.mode == 0) dir.mode = EntryMode::kNewDirectory;
  dir.mode = (dir.mode | EntryMode::kPs2 | EntryMode::kDirectory) & ~EntryMode::kFile;
  dir.length = static_cast<std::uint32_t>(table.size() + 1);
  dir.created = IsUnset(root.created) ? now : root.created;
  dir.modified = IsUnset(root.modified) ? now : root.modified;
  dir.attr = AttributesOf(save, 0);
  dir.SetName(root.Name());

  std::set<std::string_view> names;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    const std::string quoted = "\"" + std::string(e.FullName()) + "\"";
    if (EntryMode::IsDirectory(e.mode)) {
      detail = quoted + " is a folder";
      return ImportResult::kHasSubfolder;
    }
    if (std::string problem = NameProblem(e.FullName()); !problem.empty()) {
      detail = "a file has " + problem;
      return ImportResult::kInvalidSave;
    }
    if (!names.insert(e.FullName()).second) {
      detail = "two files are named " + quoted;
      return ImportResult::kInvalidSave;
    }
    DirEntry f;
    f.mode = e.mode & kModeMask;
    if (f.mode == 0) f.mode = EntryMode::kNewFile;
    f.mode |= EntryMode::kPs2 | EntryMode::kFile;
    f.length = e.size;
    f.created = IsUnset(e.created) ? now : e.created;
    f.modified = IsUnset(e.modified) ? now : e.modified;
    f.attr = AttributesOf(save, pos);
    f.cluster = dirent::kNoCluster;
    f.SetName(e.FullName());
    out.files.push_back(f);
    out.sources.push_back(&e);
    out.fileClusters += ClustersFor(e.size);
  }
  return ImportResult::kImported;
}

bool ReadSaveData(const CSaveGame& save, const PreparedSave& prepared,
                  std::vector<std::vector<std::uint8_t>>& data) {
  data.assign(prepared.sources.size(), {});
  EntryDataReader reader;
  try {
    for (std::size_t i = 0; i < prepared.sources.size(); ++i) {
      const SaveEntry& e = *prepared.sources[i];
      std::vector<std::uint8_t>& out = data[i];
      out.reserve(e.size);
      DataResult r = reader.Copy(e, save.container.get(), [&out](std::span<const std::uint8_t> piece) {
        out.insert(out.end(), piece.begin(), piece.end());
        return true;
      });
      if (r != DataResult::kOk || out.size() != e.size) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace card
