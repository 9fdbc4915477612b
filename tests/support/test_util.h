// Helpers every test file uses: scratch folders, whole-file reads and writes, and the
// shared corpus of real save files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "model/entry.h"
#include "model/save_game.h"

// Results print as their numbers in test messages.
inline std::ostream& operator<<(std::ostream& os, LoadResult r) { return os << ResultCode(r); }

namespace testutil {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder (or under `base`), removed with the
// object.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The UTF-8 path of a name inside the folder.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Loads the file at path as a front end that asks the user does: `answer` answers each
// question the load stops at, and the load is made again with the answers.
LoadResult LoadAsking(CSaveGame& save, const std::string& path, const std::function<bool(const LoadQuestion&)>& answer);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes MakeBytes(std::size_t n, std::uint32_t seed);  // deterministic pseudo-random bytes
Bytes FromString(const std::string& s);

// A folder in memory (/dev/shm) where there is one, else the temporary folder: for tests
// that write many files, since every save is flushed to the disk.
std::filesystem::path FastTempBase();

// The corpus folder, or empty when it is absent (tests then skip).
std::string CorpusPath(const std::string& relative);

// A valid 964-byte icon.sys with the given raw title bytes at offset 192.
Bytes MakeIconSys(const std::string& rawTitle);

EntryTime MakeTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace testutil

// Skips the current test when a corpus file is missing.
#define REQUIRE_CORPUS(var, relative)                                        \
  std::string var = ::testutil::CorpusPath(relative);                        \
  if (var.empty()) GTEST_SKIP() << "corpus file " << (relative) << " absent"
