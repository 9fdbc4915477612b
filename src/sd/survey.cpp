#include "sd/survey.h"

#include <algorithm>
#include <system_error>

#include "card/card_messages.h"
#include "card/card_size.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/text.h"
#include "sd/search.h"

namespace sd {

namespace {

// The image file's size; 0 for a folder card.
std::uint64_t FileBytes(const FoundCard& place) {
  if (!io::IsFile(place.path)) return 0;
  return io::FileSize(place.path).value_or(0);
}

bool HasDamage(const std::vector<card::Issue>& issues) {
  return std::any_of(issues.begin(), issues.end(),
                     [](const card::Issue& i) { return i.severity() != card::Severity::kNotice; });
}

}  // namespace

Survey SurveyCards(const std::string& root) {
  Survey survey;
  FoundCards found = FindCards(root);
  survey.truncated = found.truncated;
  for (FoundCard& place : found.cards) {
    CardSurvey& s = survey.cards.emplace_back();
    s.fileBytes = FileBytes(place);
    if (s.fileBytes > 0) s.refusal = Refusal(place.layout, place.console, s.fileBytes);
    card::OpenedCard opened = card::OpenCard(place.path);
    s.place = std::move(place);
    if (!opened.card) {
      s.failure = card::messages::OpenFailure(opened);
      continue;
    }
    s.opened = true;
    const card::CardSize size = card::SizeOf(*opened.card);
    s.megabytes = size.megabytes;
    s.ecc = size.ecc;
    s.ps1 = size.ps1;
    const card::Listing listing = opened.card->List();
    s.saves = static_cast<int>(std::count_if(listing.saves.begin(), listing.saves.end(),
                                             [](const card::SaveInfo& i) { return !i.deleted; }));
    s.freeKB = listing.freeKB;
    s.freeBlocks = listing.freeBlocks;
    // A PS1 card is written around a damaged save, but the card still has damage.
    s.damaged = opened.card->Damaged() || (s.ps1 && HasDamage(opened.card->Check()));
  }
  return survey;
}

SearchResult FindSaves(const std::string& root, std::string_view text) {
  SearchResult result;
  for (const FoundCard& place : FindCards(root).cards) {
    card::OpenedCard opened = card::OpenCard(place.path);
    if (!opened.card) {
      result.unreadable.push_back(place.relative + ": " + card::messages::OpenFailure(opened));
      continue;
    }
    for (const card::SaveInfo& s : opened.card->List().saves) {
      if (s.deleted) continue;
      const std::string title = io::ShiftJisToUtf8(s.rawTitle);
      if (SearchMatches(s.folder, text) || SearchMatches(title, text) || SearchMatches(s.title, text))
        result.saves.push_back({place.relative, s.folder, title});
    }
  }
  return result;
}

bool CardFindings::Clean() const {
  return refusal.empty() && !HasDamage(issues);
}

TreeFindings CheckTree(const std::string& root) {
  TreeFindings all;
  FoundCards found = FindCards(root);
  for (FoundCard& place : found.cards) {
    CardFindings& f = all.cards.emplace_back();
    const std::uint64_t bytes = FileBytes(place);
    if (bytes > 0) f.refusal = Refusal(place.layout, place.console, bytes);
    card::OpenedCard opened = card::OpenCard(place.path);
    f.issues = opened.card ? opened.card->Check() : opened.issues;
    f.place = std::move(place);
  }
  for (PopsFinding& r : found.pops.findings) all.redirects.push_back({RelativePath(root, r.file), std::move(r.problem)});
  return all;
}

std::vector<CardFindings> CheckCards(const std::string& root) { return CheckTree(root).cards; }

bool TreeFindings::Clean() const {
  return redirects.empty() && std::all_of(cards.begin(), cards.end(), [](const CardFindings& f) { return f.Clean(); });
}

}  // namespace sd
