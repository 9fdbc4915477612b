#include "formats/write_save.h"

SaveWrite WriteSaveAs(CSaveGame& save, const FormatFamily& family, const std::string& path) {
  SaveWrite outcome;
  if (family.kind == save.kind && family.Can(kSavesInPlace)) {
    outcome.written = save.Save(path);
    // The entries still describe the file as it was: read them from the new one.
    if (outcome.written == LoadResult::kSavedInPlace) outcome.reloaded = save.Load(path);
    outcome.refusal = save.refusal;
    return outcome;
  }
  std::unique_ptr<CSaveGame> writer = family.create();
  outcome.written = writer->WriteConvertedFrom(save, path);
  outcome.refusal = writer->refusal;
  return outcome;
}
