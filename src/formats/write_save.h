// Writing a loaded save to a file: the one way the dialog program, convert, batch and the
// edit commands do it.
#pragma once

#include <optional>
#include <string>

#include "formats/registry.h"
#include "model/save_game.h"

struct SaveWrite {
  LoadResult written = LoadResult::kInvalid;
  // After a save over its own container (-5): the result of loading it again from there.
  std::optional<LoadResult> reloaded;
  // The writer's (or the reload's) refusal, when it gave one: shown in place of the
  // result's message.
  std::string refusal;

  // The file was written and, where it was reloaded, the save describes it again.
  bool ok() const { return Succeeded(written) && (!reloaded || *reloaded == LoadResult::kOk); }
};

// Why `save` can't be written as `family` at all, or empty: a PS1 save in a family of PS2
// saves, or the reverse.
std::string ConsoleRefusal(const CSaveGame& save, const FormatFamily& family);

// Writes `save` to `path` as `family`; a save the family can't hold is refused (-6, the
// refusal from ConsoleRefusal) before anything is written. A save of that very family is written by its own
// Save (over the container it came from through the "~0" file, after which it is loaded
// again from there so that its entries point into the new file); any other save is
// converted by a short-lived object of the family.
SaveWrite WriteSaveAs(CSaveGame& save, const FormatFamily& family, const std::string& path);

// A conversion done in one pass, the source file read and the target written together.
struct OnePassConversion {
  // The source's load: anything but 1 means it failed as Load would have, and nothing
  // was written; when the write failed first it stays 1 and `write` says so.
  LoadResult loaded = LoadResult::kOk;
  SaveWrite write;
};

// Converts `source`, which `reader` (an empty object of its family) reads, to `family` at
// `target` without holding the save's file data whole: for a pair where the source family
// hands its entries over as it reads them and the target's writer takes them so. None,
// with nothing read or written, for any other pair, a target that is the source, or a
// family whose writes come with a note or a refusal that needs the whole save: the caller
// loads the save and writes it as usual. A load that stops at a question gives
// kNeedsAnswer (reader.question) before anything is written.
std::optional<OnePassConversion> ConvertInOnePass(CSaveGame& reader, const io::ByteSource& source,
                                                  const FormatFamily& family, const std::string& target,
                                                  const LoadAnswers& answers = {});
