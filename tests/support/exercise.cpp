#include "support/exercise.h"

#include <algorithm>
#include <memory>

#include "card/card.h"
#include "formats/registry.h"
#include "io/file.h"
#include "io/fs_path.h"

namespace testutil {

std::vector<int> WritableKinds(PlayStation console) {
  std::vector<int> kinds;
  for (const FormatFamily& f : Families())
    if (f.Can(kWritesConversions) && Holds(f, console)) kinds.push_back(f.kind);
  return kinds;
}

bool IsDefinedResult(LoadResult result) {
  const int code = ResultCode(result);
  return code >= ResultCode(LoadResult::kNoMemory) && code <= ResultCode(LoadResult::kOk);
}

bool HasPlainLayout(const CSaveGame& save) {
  if (!save.entries || save.entries->empty()) return false;
  return EntryMode::IsDirectory((*save.entries)[0].mode);
}

std::vector<ConvertOutcome> ConvertToAll(const CSaveGame& save, const std::string& scratchDir) {
  std::vector<ConvertOutcome> outcomes;
  for (int kind : WritableKinds(PlayStationOf(save))) {
    ConvertOutcome c;
    c.kind = kind;
    std::string target =
        io::FromFsPath(io::ToFsPath(scratchDir) / ("converted." + std::string(KindName(kind))));
    std::unique_ptr<CSaveGame> writer = CreateForKind(kind);
    c.written = writer->WriteConvertedFrom(save, target);
    c.refused = !writer->refusal.empty();
    if (c.written == LoadResult::kOk) {
      c.bytes = io::FileSize(target).value_or(0);
      std::unique_ptr<CSaveGame> reader = CreateForKind(kind);
      c.reloaded = reader->Load(target);
    }
    io::RemoveFile(target);
    outcomes.push_back(c);
  }
  return outcomes;
}

LoadOutcome LoadAndConvert(const std::string& path, std::string_view extension, bool answer,
                           const std::string& scratchDir, bool convert) {
  LoadOutcome outcome;
  std::unique_ptr<CSaveGame> save = CreateForExtension(extension);
  if (!save) return outcome;
  outcome.load = LoadWithAnswers(*save, io::OpenSource(path), [&outcome, answer](const LoadQuestion&) {
    ++outcome.questions;
    return answer;
  });
  if (outcome.load != LoadResult::kOk) return outcome;
  outcome.plainLayout = HasPlainLayout(*save);
  if (convert) outcome.conversions = ConvertToAll(*save, scratchDir);
  return outcome;
}

LoadOutcome OpenCardAndConvert(const std::string& path, const std::string& scratchDir) {
  LoadOutcome outcome;
  card::OpenedCard opened = card::OpenCard(path);
  if (!opened.card) {
    outcome.load = LoadResult::kInvalid;
    const bool fatal = std::any_of(opened.issues.begin(), opened.issues.end(),
                                   [](const card::Issue& i) { return i.severity() == card::Severity::kFatal; });
    if (!fatal) outcome.broken = "a card refused without a fatal issue";
    return outcome;
  }
  outcome.load = LoadResult::kOk;
  outcome.plainLayout = true;
  for (const card::SaveInfo& info : opened.card->List().saves) {
    card::OpenedSave save = opened.card->OpenSave(info.folder);
    if (save.result != card::OpenSaveResult::kOpened) {
      // A folder that appears twice opens as its first copy, which may be the damaged one.
      if (info.readable && outcome.broken.empty() && save.result != card::OpenSaveResult::kDamaged)
        outcome.broken = "the listed save " + info.folder + " does not open";
      continue;
    }
    std::vector<ConvertOutcome> c = ConvertToAll(*save.save, scratchDir);
    outcome.conversions.insert(outcome.conversions.end(), c.begin(), c.end());
  }
  // Check repeats every issue of the open that is not about ECC, and finds nothing fatal.
  for (const card::Issue& i : opened.card->Check())
    if (i.severity() == card::Severity::kFatal && i.kind != card::IssueKind::kReadFailed)
      outcome.broken = "check found a fatal issue in a card that opened: " + i.message;
  return outcome;
}

std::string CheckOutcome(const LoadOutcome& outcome) {
  if (!outcome.broken.empty()) return outcome.broken;
  if (!IsDefinedResult(outcome.load)) return "Load returned " + std::to_string(ResultCode(outcome.load));
  for (const ConvertOutcome& c : outcome.conversions) {
    std::string kind(KindName(c.kind));
    if (!IsDefinedResult(c.written))
      return "conversion to " + kind + " returned " + std::to_string(ResultCode(c.written));
    // The data of a loaded save is there to be read, so converting it succeeds, unless
    // the format can't hold the save and the writer says why.
    if (c.written == LoadResult::kInvalid && c.refused) continue;
    if (c.written != LoadResult::kOk)
      return "conversion to " + kind + " failed with " + std::to_string(ResultCode(c.written));
    if (outcome.plainLayout && c.reloaded != LoadResult::kOk)
      return "the converted " + kind + " file does not load back: " + std::to_string(ResultCode(c.reloaded));
  }
  return {};
}

}  // namespace testutil
