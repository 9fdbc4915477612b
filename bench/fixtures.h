// What the benchmarks work on, made once per run and deterministic: the data to
// compress, the LZARI streams, and saves on disk in a scratch folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/card.h"
#include "data_kinds.h"
#include "support/test_util.h"

namespace bench {

using testutil::Bytes;

inline constexpr std::size_t kKiB = 1024;
inline constexpr std::size_t kMiB = 1024 * 1024;

// A deterministic mix of what saves hold: machine code (MIPS-like words and repeated
// routines), text, data that is already compressed (random bytes) and runs of zeros,
// in blocks of 1 to 64 KiB.
Bytes MixedData(std::size_t n, std::uint64_t seed);
Bytes RandomData(std::size_t n, std::uint64_t seed);

// Plain data and its LZARI stream made by LzariEncode (the stream alone, without the
// length in front of it).
struct LzariSample {
  Bytes plain;
  Bytes coded;
};
const LzariSample& MixedSample();   // 8 MiB
const LzariSample& RandomSample();  // 1 MiB

// The kinds of data the LZARI rows are measured on, one row each: its name in the
// bench's figures, and its sample (made on first use).
struct LzariKind {
  const char* name;
  std::size_t bytes;
  Bytes (*make)(std::size_t n, std::uint64_t seed);
};
inline constexpr std::size_t kKindBytes = 2 * kMiB;
inline constexpr LzariKind kLzariKinds[] = {
    {"text", kKindBytes, TextLinesData},        {"records", kKindBytes, RecordsData},
    {"runs", kKindBytes, RunsData},             {"compressed", kKindBytes, CompressedData},
};  // the realistic mix is MixedSample and the 8 MiB save, rows of their own
const LzariSample& KindSample(const LzariKind& kind);

// The scratch folder, removed at exit.
const testutil::TempDir& Scratch();

// A save of the given format ("psu", "xps" or "max") on disk, holding icon.sys, an icon
// and a data file with `fileBytes` bytes of file data in all; made on first use.
const std::string& SavePath(const std::string& format, std::size_t fileBytes);
// A save of the given format whose one data file, beside icon.sys, is the kind's sample.
const std::string& KindSavePath(const std::string& format, const LzariKind& kind);

// The folder of `count` small .psu saves (3 to 5 files of 1 to 50 KiB each).
const std::string& SmallSavesFolder(std::size_t count);

// Copies a file as a careful writer would: read and write in 1 MiB pieces, fsync, close,
// rename over the target, fsync the folder. The baseline of every durable write.
bool DurableCopy(const std::string& from, const std::string& to);

// The list of paths in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder);

// A .psu save read from `path` and named `folder`; null if it does not load.
std::unique_ptr<CSaveGame> LoadPsu(const std::string& path, const std::string& folder);

// A newly formatted 8 MiB card with ECC at `path`, opened; null if that fails.
std::unique_ptr<card::Card> NewCard(const std::string& path);

// An 8 MiB card with ECC full of saves with icons: kFullCardSaves of them, each icon.sys,
// ThinTrianglesIcon and 100 KiB of data; made on first use in the scratch folder, empty
// if that fails.
inline constexpr int kFullCardSaves = 50;
const std::string& FullCardPath();

// The icon file of the card window's benchmark: 146 textured triangles, long and thin,
// each spanning the whole height of the picture.
Bytes ThinTrianglesIcon();

}  // namespace bench
