#include "support/exercise.h"

#include <memory>

#include "formats/registry.h"
#include "io/file.h"

namespace testutil {

std::vector<int> WritableKinds() {
  std::vector<int> kinds;
  for (const FormatFamily& f : Families())
    if (f.Can(kWritesConversions)) kinds.push_back(f.kind);
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
  for (int kind : WritableKinds()) {
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
  save->SetQuestionHandler([&outcome, answer](const std::string&, const std::string&) {
    ++outcome.questions;
    return answer;
  });
  outcome.load = save->Load(path);
  if (outcome.load != LoadResult::kOk) return outcome;
  outcome.plainLayout = HasPlainLayout(*save);
  if (convert) outcome.conversions = ConvertToAll(*save, scratchDir);
  return outcome;
}

std::string CheckOutcome(const LoadOutcome& outcome) {
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
