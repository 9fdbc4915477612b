#include "sd/merge.h"

#include <algorithm>
#include <map>
#include <memory>

#include "card/card_messages.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "card/ps3_card.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "model/entry_time_text.h"
#include "sd/find_cards.h"
#include "sd/game_id.h"
#include "sd/ini.h"
#include "sd/saves.h"

namespace sd {

namespace {

constexpr int kTarget = -1;

struct Candidate {
  int source = kTarget;  // index of the card it is on, or kTarget
  EntryTime modified;
};

class Merger {
 public:
  Merger(std::string root, card::Card& target, const MergeOptions& options)
      : root_(std::move(root)), target_(target), options_(options),
        console_(card::IsPs1(target.type()) ? Console::kPs1 : Console::kPs2) {}
  MergeReport Run();

 private:
  struct Source {
    std::string relative;
    std::unique_ptr<card::Card> card;
  };

  void Add(MergeEvent event, std::string save, std::string card, std::string detail = {}, std::string other = {}) {
    report_.lines.push_back({event, std::move(save), std::move(card), std::move(detail), std::move(other)});
  }
  bool OfGame(const FoundCard& c, const GameFolders& folders, const PopsTree& pops) const;
  void Read(FoundCard c);
  void Offer(const std::string& folder, const Candidate& candidate);
  std::string Where(int source) const { return source == kTarget ? target_.path() : sources_[source].relative; }
  std::unique_ptr<CSaveGame> OpenOn(int source, const std::string& folder) const;
  void Resolve(const std::string& folder, const std::vector<Candidate>& copies);

  std::string root_;
  card::Card& target_;
  MergeOptions options_;
  Console console_;
  std::vector<Source> sources_;
  std::vector<std::string> order_;  // folder names, as first met
  std::map<std::string, std::vector<Candidate>> copies_;
  MergeReport report_;
};

MergeReport Merger::Run() {
  for (const card::SaveInfo& s : target_.List().saves)
    if (!s.deleted) Offer(s.folder, {kTarget, s.modified});
  const GameFolders folders = GameFolders::Read(root_);
  FoundCards found = FindCards(root_);
  for (FoundCard& c : found.cards) {
    if (io::SameFile(c.path, target_.path()) || !OfGame(c, folders, found.pops)) continue;
    if (c.console != console_) {
      Add(MergeEvent::kOtherConsole, "", c.relative);
      continue;
    }
    Read(std::move(c));
  }
  report_.cards = static_cast<int>(sources_.size());
  for (const std::string& folder : order_) Resolve(folder, copies_[folder]);
  return std::move(report_);
}

bool Merger::OfGame(const FoundCard& c, const GameFolders& folders, const PopsTree& pops) const {
  if (options_.game.empty()) return true;
  const std::string id = DeviceId(options_.game);
  switch (c.layout) {
    case Layout::kSd2psx:
      return io::EqualsIgnoringCase(c.folder, folders.FolderFor(c.console == Console::kPs1, id));
    case Layout::kMemcardPro2:
    case Layout::kMemcardPro:
      return io::EqualsIgnoringCase(c.folder, id);
    case Layout::kOpl: {
      const std::string startup = StartupFile(id);
      if (startup.empty()) return false;
      const IniFile cfg = IniFile::Read(io::JoinPath(root_, OplCfgPath(startup)));
      for (int slot = 0; slot < ChannelCount(Layout::kOpl); ++slot) {
        if (c.folder == OplCardName(startup, slot)) return true;
        if (cfg.Get("", "$VMC_" + std::to_string(slot)) == c.folder) return true;
      }
      return false;
    }
    case Layout::kPops:
      // The cards a game of that ID uses: its own folder's, or the folder a redirect names.
      return std::any_of(pops.games.begin(), pops.games.end(), [&](const PopsGame& g) {
        return g.gameId == id && g.cards == io::ParentOf(c.path);
      });
    case Layout::kPcsx2:
      break;
  }
  return false;
}

void Merger::Read(FoundCard c) {
  card::OpenedCard opened = card::OpenCard(c.path);
  if (!opened.card) {
    Add(MergeEvent::kCardNotRead, "", c.relative, card::messages::OpenFailure(opened));
    return;
  }
  if (opened.card->Damaged()) Add(MergeEvent::kCardDamaged, "", c.relative);
  const int index = static_cast<int>(sources_.size());
  sources_.push_back({c.relative, std::move(opened.card)});
  for (const card::SaveInfo& s : sources_.back().card->List().saves) {
    if (s.deleted) continue;  // a PS1 card's deleted save: not a save to gather
    if (!s.readable)
      Add(MergeEvent::kSkipped, s.folder, c.relative, card::messages::OpenSaveMessage(card::OpenSaveResult::kDamaged, s.folder));
    else
      Offer(s.folder, {index, s.modified});
  }
}

void Merger::Offer(const std::string& folder, const Candidate& candidate) {
  std::vector<Candidate>& copies = copies_[folder];
  if (copies.empty()) order_.push_back(folder);
  copies.push_back(candidate);
}

std::unique_ptr<CSaveGame> Merger::OpenOn(int source, const std::string& folder) const {
  const card::Card& c = source == kTarget ? target_ : *sources_[source].card;
  return c.OpenSave(folder).save;
}

void Merger::Resolve(const std::string& folder, const std::vector<Candidate>& copies) {
  // The latest copy; on a tie the first met, the target's before all.
  std::size_t winner = 0;
  for (std::size_t i = 1; i < copies.size(); ++i)
    if (CompareTimes(copies[i].modified, copies[winner].modified) > 0) winner = i;
  const Candidate& taken = copies[winner];
  std::unique_ptr<CSaveGame> save = OpenOn(taken.source, folder);
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (i == winner) continue;
    if (IsSystemFolder(folder) && save) {
      std::unique_ptr<CSaveGame> other = OpenOn(copies[i].source, folder);
      if (other && SameFiles(*save, *other)) continue;
    }
    Add(MergeEvent::kNotTaken, folder, Where(copies[i].source), ListingForm(copies[i].modified), Where(taken.source));
  }
  if (taken.source == kTarget) return;
  if (!save) {
    Add(MergeEvent::kSkipped, folder, Where(taken.source), card::messages::OpenSaveMessage(card::OpenSaveResult::kDamaged, folder));
    return;
  }
  card::ImportOptions import;
  import.now = options_.now;
  import.replace = copies.front().source == kTarget;
  const card::ImportOutcome out = target_.Import(*save, import);
  if (out.result == card::ImportResult::kImported)
    Add(MergeEvent::kTaken, folder, Where(taken.source));
  else if (out.result == card::ImportResult::kReplaced)
    Add(MergeEvent::kReplaced, folder, Where(taken.source));
  else
    Add(MergeEvent::kDidNotFit, folder, Where(taken.source), card::messages::ImportMessage(out));
}

}  // namespace

bool MergeReport::Complete() const {
  if (!failure.empty()) return false;
  return std::none_of(lines.begin(), lines.end(), [](const MergeLine& l) {
    return l.event == MergeEvent::kDidNotFit || l.event == MergeEvent::kSkipped || l.event == MergeEvent::kCardNotRead;
  });
}

MergeReport Merge(const std::string& root, card::Card& target, const MergeOptions& options) {
  if (target.Damaged()) {
    MergeReport report;
    card::ImportOutcome refused;
    refused.result = card::ImportResult::kCardDamaged;
    report.failure = card::messages::ImportMessage(refused);
    return report;
  }
  return Merger(root, target, options).Run();
}

namespace {

// Formats the missing target; what it is made as ("8 MB, with ECC"), or the failure.
card::FormatResult MakeTarget(const std::string& target, const MergeOptions& options, std::string& made) {
  if (options.ps1) {
    made = "a PS1 card";
    return card::FormatPs1Card(target, card::Ps1KindForExtension(io::ExtensionOf(target)), /*overwrite=*/false);
  }
  card::FormatOptions format;
  format.megabytes = 8;
  format.ecc = card::EccForExtension(target).value_or(true);
  format.time = options.now;
  made = format.ecc ? "8 MB, with ECC" : "8 MB, without ECC";
  // A PS2 Classics card is encrypted: an image under its name would be no card at all.
  const card::CardKind& vme = card::KindOf(card::CardType::kPs3Vme);
  if (vme.Has(io::ExtensionOf(target))) {
    made = "8 MB, " + std::string(vme.noun) + ", retail key";
    return card::FormatPs3Card(target, card::CardType::kPs3Vme, format);
  }
  return card::FormatImage(target, format);
}

}  // namespace

MergeReport MergeIntoFile(const std::string& root, const std::string& target, const MergeOptions& options) {
  MergeReport report;
  std::string made;
  if (!io::Exists(target)) {
    const card::FormatResult result = MakeTarget(target, options, made);
    if (result != card::FormatResult::kFormatted) {
      report.failure = std::string(card::messages::FormatMessage(result));
      return report;
    }
  }
  card::OpenedCard opened = card::OpenCard(target);
  if (!opened.card) {
    report.failure = card::messages::OpenFailure(opened);
    return report;
  }
  report = Merge(root, *opened.card, options);
  if (!made.empty()) report.lines.insert(report.lines.begin(), {MergeEvent::kTargetMade, "", target, made, ""});
  return report;
}

}  // namespace sd
