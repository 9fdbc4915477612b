#include "sd/survey.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "card/card_messages.h"
#include "io/file.h"
#include "io/text.h"
#include "sd/search.h"

namespace sd {

namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kPs1CardBytes = 131072;

// The image file's size; 0 for a folder card.
std::uint64_t FileBytes(const FoundCard& place) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(io::ToFsPath(place.path), ec)) return 0;
  return io::FileSize(place.path).value_or(0);
}

bool IsPs1(const FoundCard& place, std::uint64_t bytes) {
  return place.console == Console::kPs1 || bytes == kPs1CardBytes;
}

}  // namespace

CardSize SizeOf(const card::Card& c) {
  CardSize size;
  if (c.type() == card::CardType::kFolder) {
    size.folder = true;
    size.megabytes = 8;
    return size;
  }
  size.ecc = c.type() == card::CardType::kImageWithEcc;
  const std::uint64_t perMiB = size.ecc ? card::Geometry{1024, true}.ImageSize() : kMiB;
  size.megabytes = static_cast<unsigned>(io::FileSize(c.path()).value_or(0) / perMiB);
  return size;
}

std::string SizeText(const CardSize& size) {
  std::string text = std::to_string(size.megabytes) + " MB";
  if (size.folder) return text + " folder card";
  return text + (size.ecc ? " with ECC" : " without ECC");
}

Survey SurveyCards(const std::string& root) {
  Survey survey;
  FoundCards found = FindCards(root);
  survey.truncated = found.truncated;
  for (FoundCard& place : found.cards) {
    CardSurvey& s = survey.cards.emplace_back();
    s.fileBytes = FileBytes(place);
    if (s.fileBytes > 0) s.refusal = Refusal(place.layout, place.console, s.fileBytes);
    if (IsPs1(place, s.fileBytes)) {
      s.place = std::move(place);
      s.failure = std::string(kPs1NotRead);
      continue;
    }
    card::OpenedCard opened = card::OpenCard(place.path);
    s.place = std::move(place);
    if (!opened.card) {
      s.failure = card::messages::OpenFailure(opened);
      continue;
    }
    s.opened = true;
    const CardSize size = SizeOf(*opened.card);
    s.megabytes = size.megabytes;
    s.ecc = size.ecc;
    const card::Listing listing = opened.card->List();
    s.saves = static_cast<int>(listing.saves.size());
    s.freeKB = listing.freeKB;
    s.damaged = opened.card->Damaged();
  }
  return survey;
}

SearchResult FindSaves(const std::string& root, std::string_view text) {
  SearchResult result;
  for (const FoundCard& place : FindCards(root).cards) {
    if (IsPs1(place, FileBytes(place))) {
      result.unreadable.push_back(place.relative + ": " + std::string(kPs1NotRead));
      continue;
    }
    card::OpenedCard opened = card::OpenCard(place.path);
    if (!opened.card) {
      result.unreadable.push_back(place.relative + ": " + card::messages::OpenFailure(opened));
      continue;
    }
    for (const card::SaveInfo& s : opened.card->List().saves) {
      const std::string title = io::ShiftJisToUtf8(s.rawTitle);
      if (SearchMatches(s.folder, text) || SearchMatches(title, text) || SearchMatches(s.title, text))
        result.saves.push_back({place.relative, s.folder, title});
    }
  }
  return result;
}

bool CardFindings::Clean() const {
  return refusal.empty() && std::none_of(issues.begin(), issues.end(), [](const card::Issue& i) {
           return i.severity() != card::Severity::kNotice;
         });
}

std::vector<CardFindings> CheckCards(const std::string& root) {
  std::vector<CardFindings> all;
  for (FoundCard& place : FindCards(root).cards) {
    CardFindings& f = all.emplace_back();
    const std::uint64_t bytes = FileBytes(place);
    if (bytes > 0) f.refusal = Refusal(place.layout, place.console, bytes);
    if (IsPs1(place, bytes)) {
      f.notChecked = std::string(kPs1NotRead);
    } else {
      card::OpenedCard opened = card::OpenCard(place.path);
      f.issues = opened.card ? opened.card->Check() : opened.issues;
    }
    f.place = std::move(place);
  }
  return all;
}

}  // namespace sd
