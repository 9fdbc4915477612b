// Drives a loader over untrusted bytes the way the program would, and then sends what it
// loaded through every writer. Shared by the fuzz targets and the corruption sweeps, so
// that both meet the same paths: a new container class is covered as soon as the
// registry knows its extension.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/registry.h"
#include "model/save_game.h"

namespace testutil {

// The kinds of every family that writes conversions of the console's saves (PS2 unless
// named), in the format table's order.
std::vector<int> WritableKinds(PlayStation console = PlayStation::kPs2);

// True for the codes Load, Save and WriteConverted may return.
bool IsDefinedResult(LoadResult result);

// True when the save's root is marked as a directory, as every loader expects of the first
// entry. A save whose root is not can be written, but reading the file back refuses it
// (or asks first).
bool HasPlainLayout(const CSaveGame& save);

struct ConvertOutcome {
  int kind = 0;                  // the writer's kind
  LoadResult written = LoadResult::kOpenFailed;     // WriteConvertedFrom's result
  bool refused = false;          // the writer said why it can't hold the save (`refusal`)
  LoadResult reloaded = LoadResult::kOpenFailed;    // Load of the written file by the writer's own class (when written)
  std::uint64_t bytes = 0;       // size of the written file
};

struct LoadOutcome {
  LoadResult load = LoadResult::kOpenFailed;          // the first Load, every question answered `answer`
  int questions = 0;               // how many questions the loader asked
  std::vector<ConvertOutcome> conversions;  // one per writable kind, when the load succeeded
  bool plainLayout = false;        // HasPlainLayout of the loaded save
  std::string broken;              // an invariant of the loader itself that failed, if any
};

// Loads `path` with a new object of the class that opens `extension`, answering each
// question with `answer`; when that succeeds (and `convert` is set), converts the save to
// every writable kind inside `scratchDir`, loads each result back, and removes what it
// wrote.
LoadOutcome LoadAndConvert(const std::string& path, std::string_view extension, bool answer,
                           const std::string& scratchDir, bool convert = true);

// Converts an already loaded save to every kind that writes its console's saves, inside
// scratchDir (as above).
std::vector<ConvertOutcome> ConvertToAll(const CSaveGame& save, const std::string& scratchDir);

// Opens the file as a memory card, lists it, opens every save the listing calls readable,
// converts each to every writable kind (as above) and checks the card. `load` is 1 when
// the card opened and -6 when it was refused; a readable save that does not open, or a
// check that disagrees with the listing, is reported in `broken`.
LoadOutcome OpenCardAndConvert(const std::string& path, const std::string& scratchDir);

// Checks what LoadAndConvert reports for the invariants every input must keep: defined
// result codes, and a converted file that its own class reads back unless the save's
// layout is not plain. Returns an empty text when all hold, else what broke.
std::string CheckOutcome(const LoadOutcome& outcome);

}  // namespace testutil
