#include "sd/split.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "card/card_messages.h"
#include "card/ps1/ps1_card.h"
#include "io/output_file.h"
#include "io/file.h"
#include "io/folder.h"
#include "sd/find_cards.h"
#include "sd/game_id.h"
#include "sd/ini.h"
#include "sd/saves.h"

namespace sd {


namespace {

constexpr std::string_view kUnsorted = "UNSORTED";

// One channel's card on the SD card, as far as the split has looked at it.
struct Channel {
  std::string relative, path;
  std::unique_ptr<card::Card> card;  // open once it exists and may be written
  std::string blocked;               // why it is left alone; empty while it may be used
  bool looked = false;
};

// The saves of one card folder (or Open PS2 Loader startup file).
struct Group {
  std::string folder;
  bool game = true;  // false for UNSORTED
  std::vector<std::string> saves;
  std::vector<std::string> redirects;  // POPStarter: the VMCDIR.TXT that sent each save's game to `folder`
};

class Splitter {
 public:
  Splitter(const card::Card& source, std::string root, const SplitOptions& options)
      : source_(source), root_(std::move(root)), options_(options),
        console_(card::IsPs1(source.type()) ? Console::kPs1 : Console::kPs2),
        layout_(LayoutFor(options.device, console_)), folders_(GameFolders::Read(root_)) {
    if (layout_ == Layout::kPops) pops_ = FindCards(root_).pops.games;
  }
  SplitReport Run();

 private:
  void Add(SplitEvent event, std::string save, std::string card, std::string detail = {}, bool newCard = false) {
    report_.lines.push_back({event, std::move(save), std::move(card), std::move(detail), newCard});
  }
  std::string FolderOf(std::string_view saveFolder) const;
  const PopsGame* PopsGameOf(std::string_view saveFolder) const;
  bool GroupPops(const card::SaveInfo& s, std::vector<Group>& groups);
  int ChannelsOf(const Group& g) const;
  Channel& ChannelAt(const Group& g, int channel);
  bool Usable(Channel& c);
  bool Make(Channel& c);
  void Unmake(Channel& c);
  void Place(const Group& g, int channels, const CSaveGame& save, const std::string& folder, const std::string& redirect);
  void Written(const Group& g, const Channel& c, int channel);
  void WriteCfg(const std::string& startup, int slot);
  void CopySystem(const std::vector<std::string>& system);

  const card::Card& source_;
  std::string root_;
  SplitOptions options_;
  Console console_;
  Layout layout_;
  GameFolders folders_;
  std::vector<PopsGame> pops_;  // POPStarter's games on the tree, in path order
  std::map<std::string, Channel> channels_;
  std::vector<std::string> written_;  // cards that took a game's save, in order
  std::set<std::string> cfgDone_;
  SplitReport report_;
};

SplitReport Splitter::Run() {
  if (console_ == Console::kPs1 && layout_ == Layout::kOpl) {
    report_.failure = "Open PS2 Loader takes no PS1 cards: split a PS1 card for sd2psx or MemCard PRO";
    return std::move(report_);
  }
  if (console_ == Console::kPs2 && layout_ == Layout::kPops) {
    report_.failure = "a PS2 card: POPStarter's cards are PS1 cards, and only a PS1 card's saves go on them";
    return std::move(report_);
  }
  std::vector<Group> groups;
  std::vector<std::string> system;
  for (const card::SaveInfo& s : source_.List().saves) {
    if (s.deleted) continue;  // a PS1 card keeps deleted saves' data: they are not saves
    if (layout_ == Layout::kPops) {
      GroupPops(s, groups);
      continue;
    }
    const SaveKind kind = KindOf(s.folder);
    if (kind == SaveKind::kSystem) {
      if (options_.system == SystemFolders::kSkip)
        Add(SplitEvent::kSystemLeftOut, s.folder, "");
      else
        system.push_back(s.folder);
      continue;
    }
    const std::string folder = kind == SaveKind::kGame ? FolderOf(s.folder) : std::string(kUnsorted);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.folder == folder; });
    if (it == groups.end()) it = groups.insert(groups.end(), Group{folder, kind == SaveKind::kGame, {}, {}});
    it->saves.push_back(s.folder);
  }
  for (const Group& g : groups) {
    const int channels = ChannelsOf(g);
    for (std::size_t i = 0; i < g.saves.size(); ++i) {
      const std::string& folder = g.saves[i];
      card::OpenedSave opened = source_.OpenSave(folder);
      if (!opened.save)
        Add(SplitEvent::kSkipped, folder, "", card::messages::OpenSaveMessage(opened.result, folder));
      else
        Place(g, channels, *opened.save, folder, i < g.redirects.size() ? g.redirects[i] : std::string());
    }
  }
  CopySystem(system);
  return std::move(report_);
}

const PopsGame* Splitter::PopsGameOf(std::string_view saveFolder) const {
  const std::string code = ProductCodeOf(saveFolder);
  if (code.empty()) return nullptr;
  // The first game of that ID in path order: a second copy of a disc is not split to.
  const auto it = std::find_if(pops_.begin(), pops_.end(), [&](const PopsGame& g) { return g.gameId == code; });
  return it == pops_.end() ? nullptr : &*it;
}

// Each save to the SLOT0.VMC of its game's disc; a save of no game, or of a game whose disc
// is not there, goes nowhere: POPStarter's cards are the games'.
bool Splitter::GroupPops(const card::SaveInfo& s, std::vector<Group>& groups) {
  const std::string code = ProductCodeOf(s.folder);
  const PopsGame* game = PopsGameOf(s.folder);
  if (!game) {
    Add(SplitEvent::kSkipped, s.folder, "",
        code.empty() ? "names no game, and POPStarter's cards are the games'"
                     : "no .VCD here is the disc of " + code + " (its SYSTEM.CNF read)");
    return false;
  }
  const std::string folder = RelativePath(root_, game->cards);
  auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.folder == folder; });
  if (it == groups.end()) it = groups.insert(groups.end(), Group{folder, true, {}, {}});
  it->saves.push_back(s.folder);
  it->redirects.push_back(game->redirect.empty() ? std::string() : RelativePath(root_, game->redirect));
  return true;
}

std::string Splitter::FolderOf(std::string_view saveFolder) const {
  const std::string code = ProductCodeOf(saveFolder);
  switch (layout_) {
    case Layout::kSd2psx: return folders_.FolderFor(console_ == Console::kPs1, code);
    case Layout::kOpl: return StartupFile(code);
    default: return code;
  }
}

int Splitter::ChannelsOf(const Group& g) const {
  if (layout_ == Layout::kPops) return 1;  // SLOT0.VMC: the card of port 1
  int channels = ChannelCount(layout_);
  if (layout_ == Layout::kSd2psx) {
    // The card folder's own settings may allow fewer channels.
    const std::string card = io::JoinPath(root_, ChannelCardPath(layout_, console_, g.folder, 1));
    const auto text = ReadTextFile(io::JoinPath(io::ParentOf(card), g.folder + ".ini"));
    channels = std::min(channels, ParseChannelSettings(text.value_or(std::string())).maxChannels);
  }
  return channels;
}

Channel& Splitter::ChannelAt(const Group& g, int channel) {
  const std::string relative = ChannelCardPath(layout_, console_, g.folder, channel);
  Channel& c = channels_[relative];
  if (c.relative.empty()) {
    c.relative = relative;
    c.path = io::JoinPath(root_, relative);
  }
  return c;
}

bool Splitter::Usable(Channel& c) {
  if (c.looked) return c.blocked.empty();
  c.looked = true;
  if (io::OwnKindOf(c.path) == io::PathKind::kMissing) return true;  // made when a save goes there
  if (io::SameFile(c.path, source_.path())) {
    c.blocked = "it is the card being split";
  } else if (!io::IsFile(c.path)) {
    c.blocked = "not a card image file";
  } else {
    c.blocked = Refusal(layout_, console_, io::FileSize(c.path).value_or(0));
  }
  if (c.blocked.empty()) {
    card::OpenedCard opened = card::OpenCard(c.path);
    if (!opened.card)
      c.blocked = "not a card: " + card::messages::OpenFailure(opened);
    else if (opened.card->Damaged())
      c.blocked = "the card has damage (sd check says what)";
    else
      c.card = std::move(opened.card);
  }
  if (!c.blocked.empty()) Add(SplitEvent::kCardInTheWay, "", c.relative, c.blocked);
  return c.blocked.empty();
}

bool Splitter::Make(Channel& c) {
  io::MakeFolders(io::ParentOf(c.path));
  card::FormatResult made = card::FormatResult::kFormatted;
  if (console_ == Console::kPs1) {
    made = card::FormatPs1Card(c.path, card::Ps1FileKind::kRaw, /*overwrite=*/false);
  } else {
    card::FormatOptions format;
    format.megabytes = kNewCardMegabytes;
    format.ecc = false;
    format.overwrite = false;
    format.time = options_.now;
    made = card::FormatImage(c.path, format);
  }
  card::OpenedCard opened;
  if (made == card::FormatResult::kFormatted) opened = card::OpenCard(c.path);
  if (opened.card) {
    c.card = std::move(opened.card);
    return true;
  }
  c.blocked = "can't be made: " + std::string(card::messages::FormatMessage(made));
  Add(SplitEvent::kCardInTheWay, "", c.relative, c.blocked);
  return false;
}

void Splitter::Unmake(Channel& c) {
  c.card.reset();
  io::RemoveFile(c.path);
  c.looked = false;
}

void Splitter::Place(const Group& g, int channels, const CSaveGame& save, const std::string& folder, const std::string& redirect) {
  card::ImportOptions import;
  import.now = options_.now;
  for (int ch = 1; ch <= channels; ++ch) {
    Channel& c = ChannelAt(g, ch);
    if (!Usable(c)) continue;
    const bool made = !c.card;
    if (made && !Make(c)) continue;
    const card::ImportOutcome out = c.card->Import(save, import);
    switch (out.result) {
      case card::ImportResult::kImported:
        Add(SplitEvent::kPlaced, folder, c.relative, redirect, made);
        Written(g, c, ch);
        return;
      case card::ImportResult::kAlreadyOnCard: {
        card::OpenedSave there = c.card->OpenSave(folder);
        if (there.save && SameFiles(save, *there.save)) {
          Add(SplitEvent::kAlreadyThere, folder, c.relative, redirect);
          Written(g, c, ch);
          return;
        }
        continue;
      }
      case card::ImportResult::kNoSpace:
        if (!made) continue;
        Unmake(c);
        Add(SplitEvent::kSkipped, folder, "", card::messages::ImportMessage(out) + " even on a new card");
        return;
      case card::ImportResult::kCardDamaged:
        c.blocked = "the card has damage (sd check says what)";
        Add(SplitEvent::kCardInTheWay, "", c.relative, c.blocked);
        continue;
      default:
        if (made) Unmake(c);
        Add(SplitEvent::kSkipped, folder, "", card::messages::ImportMessage(out));
        return;
    }
  }
  if (layout_ == Layout::kPops)
    Add(SplitEvent::kSkipped, folder, "",
        "the " + PopsSlotName(0) + " of " + g.folder + " is full, holds another save of that name, or is in the way");
  else
    Add(SplitEvent::kSkipped, folder, "",
        "every channel of " + g.folder + " (1-" + std::to_string(channels) +
            ") is full, holds another save of that name, or is in the way");
}

void Splitter::Written(const Group& g, const Channel& c, int channel) {
  if (std::find(written_.begin(), written_.end(), c.relative) == written_.end() && g.game)
    written_.push_back(c.relative);
  if (layout_ == Layout::kOpl && g.game) WriteCfg(g.folder, channel - 1);
}

void Splitter::WriteCfg(const std::string& startup, int slot) {
  const std::string relative = OplCfgPath(startup);
  if (!cfgDone_.insert(relative + "#" + std::to_string(slot)).second) return;
  const std::string path = io::JoinPath(root_, relative);
  const std::optional<std::string> current = ReadTextFile(path);
  if (!current && io::Exists(path)) {
    Add(SplitEvent::kCfgFailed, "", relative, "it can't be read");
    return;
  }
  const CfgEdit edit = SetVmcLine(current, slot, OplCardName(startup, slot));
  if (edit.change == CfgChange::kAlreadySet) return;
  if (edit.change == CfgChange::kNamesOther) {
    Add(SplitEvent::kCfgNamesOther, "", relative, "$VMC_" + std::to_string(slot) + "=" + edit.existing);
    return;
  }
  io::MakeFolders(io::ParentOf(path));
  io::OutputFile out(path, /*inPlace=*/false);
  out.Write(edit.text.data(), edit.text.size());
  if (out.Commit() == io::Committed::kWritten)
    Add(SplitEvent::kCfgWritten, "", relative, "$VMC_" + std::to_string(slot) + "=" + OplCardName(startup, slot));
  else
    Add(SplitEvent::kCfgFailed, "", relative, io::LastFailureReason());
}

void Splitter::CopySystem(const std::vector<std::string>& system) {
  card::ImportOptions import;
  import.now = options_.now;
  for (const std::string& folder : system) {
    card::OpenedSave opened = source_.OpenSave(folder);
    if (!opened.save) {
      Add(SplitEvent::kSkipped, folder, "", card::messages::OpenSaveMessage(opened.result, folder));
      continue;
    }
    if (written_.empty()) Add(SplitEvent::kSystemNoCard, folder, "");
    for (const std::string& relative : written_) {
      Channel& c = channels_[relative];
      const card::ImportOutcome out = c.card->Import(*opened.save, import);
      if (out.result == card::ImportResult::kImported) {
        Add(SplitEvent::kSystemCopied, folder, relative);
      } else if (out.result == card::ImportResult::kAlreadyOnCard) {
        card::OpenedSave there = c.card->OpenSave(folder);
        if (!there.save || !SameFiles(*opened.save, *there.save)) Add(SplitEvent::kSystemKept, folder, relative);
      } else {
        Add(SplitEvent::kSkipped, folder, relative, card::messages::ImportMessage(out));
      }
    }
  }
}

}  // namespace

bool SplitReport::Complete() const {
  if (!failure.empty()) return false;
  return std::none_of(lines.begin(), lines.end(), [](const SplitLine& l) {
    return l.event == SplitEvent::kSkipped || l.event == SplitEvent::kCfgFailed;
  });
}

SplitReport Split(const card::Card& source, const std::string& root, const SplitOptions& options) {
  return Splitter(source, root, options).Run();
}

SplitReport SplitCardFile(const std::string& source, const std::string& root, const SplitOptions& options) {
  card::OpenedCard opened = card::OpenCard(source);
  if (!opened.card) {
    SplitReport report;
    report.failure = card::messages::OpenFailure(opened);
    return report;
  }
  return Split(*opened.card, root, options);
}

}  // namespace sd
