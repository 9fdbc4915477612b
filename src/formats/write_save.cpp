#include "formats/write_save.h"

#include "formats/ps1/ps1_save.h"

std::string ConsoleRefusal(const CSaveGame& save, const FormatFamily& family) {
  const bool ps1 = ps1::IsPs1(save);
  if (ps1 ? family.HoldsPs1() : family.HoldsPs2()) return {};
  const std::string console = ps1 ? "PlayStation 1" : "PlayStation 2";
  const std::string other = ps1 ? "PlayStation 2" : "PlayStation 1";
  return "This is a " + console + " save: it can't be written as " + std::string(family.noun) +
         ", which holds only " + other + " saves. The two consoles' saves are different things.";
}

SaveWrite WriteSaveAs(CSaveGame& save, const FormatFamily& family, const std::string& path) {
  SaveWrite outcome;
  outcome.refusal = ConsoleRefusal(save, family);
  if (!outcome.refusal.empty()) return outcome;
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

std::optional<OnePassConversion> ConvertInOnePass(CSaveGame& reader, const io::ByteSource& source,
                                                  const FormatFamily& family, const std::string& target,
                                                  const LoadAnswers& answers) {
  if (family.kind == reader.kind || family.conversionLoss || family.requiredName ||
      !ConsoleRefusal(reader, family).empty() || IsSameContainer(target, source.path()))
    return std::nullopt;
  std::unique_ptr<CSaveGame> format = family.create();
  std::unique_ptr<SaveStreamWriter> writer = format->StreamWriter(target);
  if (!writer) return std::nullopt;
  const std::optional<LoadResult> loaded = reader.LoadInto(source, *writer, answers);
  if (!loaded) return std::nullopt;
  OnePassConversion done;
  if (writer->Failed())  // the write stopped the read
    done.write.written = LoadResult::kOpenFailed;
  else if (*loaded == LoadResult::kOk)
    done.write.written = writer->Finish();
  else
    done.loaded = *loaded;
  return done;
}
