// What the card commands do differently on a PS1 card: its listing (blocks, block numbers,
// region, deleted saves), and formatting and converting its kinds of file.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "card/card_messages.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "cli/card_command.h"
#include "io/output_file.h"
#include "io/path.h"

namespace cli {

namespace {

std::string SlotsText(const std::vector<int>& slots) {
  std::string text;
  for (int b : slots) text += (text.empty() ? "" : ",") + std::to_string(b);
  return text;
}

}  // namespace

void PrintPs1ListingJson(const card::Card& c, const card::Listing& listing, bool deleted, Console& console) {
  nlohmann::ordered_json j = ListingJsonHead(c);
  nlohmann::ordered_json saves = nlohmann::ordered_json::array();
  for (const card::SaveInfo& s : listing.saves) {
    if (s.deleted && !deleted) continue;
    nlohmann::ordered_json one;
    one["folder"] = BytesToUtf8(s.folder);
    one["title"] = BytesToUtf8(s.title);
    one["title_utf8"] = TitleUtf8(s);
    one["blocks"] = s.blocks;
    one["slots"] = s.chain;
    one["region"] = s.region;
    one["size_kb"] = s.sizeKB;
    one["deleted"] = s.deleted;
    one["readable"] = s.readable;
    one["damage"] = s.damage;
    saves.push_back(std::move(one));
  }
  j["saves"] = std::move(saves);
  j["free_blocks"] = listing.freeBlocks;
  j["free_kb"] = listing.freeKB;
  j["free_text"] = card::messages::FreeText(listing);
  console.out << j.dump(2, ' ', true) << '\n';
}

void PrintPs1ListingText(const card::Listing& listing, bool deleted, Console& console) {
  struct Row {
    std::string name, blocks, slots, region, title;
  };
  std::vector<Row> rows;
  for (const card::SaveInfo& s : listing.saves) {
    if (s.deleted && !deleted) continue;
    std::string name = DisplayText(s.folder);
    if (s.deleted) name += " (deleted)";
    rows.push_back({name, std::to_string(s.blocks), SlotsText(s.chain), s.region, Printable(TitleUtf8(s))});
  }
  std::ostream& out = console.out;
  if (rows.empty()) {
    out << "No saves\n" << card::messages::FreeText(listing) << '\n';
    return;
  }
  const Row head{"Name", "Blocks", "Slots", "Region", "Title"};
  // The columns line up for ASCII names, which card file names are.
  std::size_t nameWidth = head.name.size(), slotsWidth = head.slots.size(), regionWidth = head.region.size();
  for (const Row& r : rows) {
    nameWidth = std::max(nameWidth, r.name.size());
    slotsWidth = std::max(slotsWidth, r.slots.size());
    regionWidth = std::max(regionWidth, r.region.size());
  }
  auto print = [&](const Row& r) {
    std::string line = Pad(r.name, nameWidth) + "  " + Pad(r.blocks, head.blocks.size()) + "  " +
                       Pad(r.slots, slotsWidth) + "  " + Pad(r.region, regionWidth) + "  " + r.title;
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  };
  print(head);
  for (const Row& r : rows) print(r);
  out << card::messages::FreeText(listing) << '\n';
}

std::optional<card::Ps1FileKind> Ps1KindFor(const std::string& as, const std::string& path, Console& console) {
  if (as.empty()) return card::Ps1KindForExtension(io::ExtensionOf(path));
  std::optional<card::Ps1FileKind> kind = card::Ps1KindNamed(as);
  if (!kind) console.Error("No PS1 card kind " + Quoted(as) + ": --as takes " + card::Ps1KindNames(", ", " or "));
  return kind;
}

int FormatPs1(const std::string& path, const std::string& as, bool force, Console& console) {
  const std::optional<card::Ps1FileKind> kind = Ps1KindFor(as, path, console);
  if (!kind) return kExitUsage;
  const card::FormatResult result = card::FormatPs1Card(path, *kind, force);
  const std::string message(card::messages::FormatMessage(result));
  if (result != card::FormatResult::kFormatted) {
    console.Error(message + (result == card::FormatResult::kTargetExists ? " (--force formats over a file)" : ""));
    return kExitFailed;
  }
  console.out << message << ": " << DisplayText(path) << " (" << CardTypeName(card::Ps1CardType(*kind)) << ")\n";
  return kExitOk;
}

int ConvertPs1(const card::Identified& source, const std::string& target, const std::string& as, Console& console) {
  const std::optional<card::Ps1FileKind> kind = Ps1KindFor(as, target, console);
  if (!kind) return kExitUsage;
  card::ConvertResult result = card::ConvertResult::kAlreadyThatLayout;
  if (source.card->ps1File != kind || !io::SameFile(source.path, target)) {
    io::OutputFile out(target, /*inPlace=*/false);
    out.ReleaseBeforeReplacing(source.source);
    result = card::ConvertPs1Card(*source.source, out, *kind);
  }
  if (result != card::ConvertResult::kConverted) {
    console.Error(result == card::ConvertResult::kNotAnImage ? std::string("Not a PlayStation 1 memory card")
                                                              : std::string(card::messages::ConvertMessage(result)));
    return kExitFailed;
  }
  console.out << "Card converted: " << DisplayText(target) << " (" << CardTypeName(card::Ps1CardType(*kind)) << ")\n";
  return kExitOk;
}

}  // namespace cli
