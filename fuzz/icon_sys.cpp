// The icon.sys title routines over arbitrary bytes: ReadIconSysTitle with the bytes as an
// entry's data in memory, as a PC file and inside a container file, TitleToAscii over the
// title it found and over the raw bytes themselves, and the writers over the whole save.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz_support.h"
#include "model/icon_sys.h"
#include "model/save_game.h"
#include "support/exercise.h"

namespace {

constexpr char kUntouched = 0x5A;

// The title that ReadIconSysTitle must find in these bytes, or none.
bool ExpectTitle(std::span<const std::uint8_t> bytes) {
  return bytes.size() == kIconSysSize && std::memcmp(bytes.data(), "PS2D", 4) == 0;
}

void CheckTitle(const CSaveGame& save, std::span<const std::uint8_t> bytes, const char* where) {
  std::vector<char> raw(kIconSysTitleField, kUntouched);
  int found = ReadIconSysTitle(save, raw);
  if (found != (ExpectTitle(bytes) ? 1 : 0)) fuzz::Require("unexpected result", where);
  if (found == 0) {
    if (std::any_of(raw.begin(), raw.end(), [](char c) { return c != kUntouched; }))
      fuzz::Require("destination changed without a title", where);
    return;
  }
  const char* end = static_cast<const char*>(std::memchr(raw.data(), 0, raw.size()));
  if (!end || end - raw.data() > 63) fuzz::Require("title without its NUL", where);
  if (std::memcmp(raw.data(), bytes.data() + kIconSysTitleOffset,
                  static_cast<std::size_t>(end - raw.data())) != 0)
    fuzz::Require("title differs from the file", where);
  std::vector<char> text(kIconSysTitleField);
  TitleToAscii(raw, text);
  if (std::strlen(text.data()) > static_cast<std::size_t>(end - raw.data()))
    fuzz::Require("converted title longer than the raw one", where);
}

SaveEntry& AddIconSys(CSaveGame& save, std::size_t size) {
  EntryTable table(2);
  table[0].mode = EntryMode::kNewDirectory;
  table[0].size = 3;
  SetField(table[0].name, "FUZZSAVE", kNameChars);
  table[1].mode = EntryMode::kNewFile;
  table[1].size = static_cast<std::uint32_t>(size);
  SetField(table[1].name, "icon.sys", kNameChars);
  save.entries = std::move(table);
  return (*save.entries)[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) return 0;
  std::span<const std::uint8_t> bytes(data, size);

  // The bytes in memory, as an ARMAX save holds them.
  CGeneric inMemory;
  AddIconSys(inMemory, size).source = InMemory{{bytes.begin(), bytes.end()}};
  CheckTitle(inMemory, bytes, "in memory");

  // The bytes as a PC file added to the save.
  std::string path = fuzz::WriteInput(bytes, "icon.sys");
  CGeneric onDisk;
  SaveEntry& fromPc = AddIconSys(onDisk, size);
  fromPc.source = FromDisk{path};
  CheckTitle(onDisk, bytes, "PC file");

  // The bytes at the start of the save's container file.
  CGeneric inContainer;
  AddIconSys(inContainer, size);
  inContainer.container = io::OpenSource(path);
  CheckTitle(inContainer, bytes, "container");

  // The same bytes as a container in memory.
  CGeneric inMemoryContainer;
  AddIconSys(inMemoryContainer, size);
  inMemoryContainer.container = io::MemorySource(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  CheckTitle(inMemoryContainer, bytes, "container in memory");

  // TitleToAscii over the raw bytes, into a destination as large as they are and into a
  // tiny one: the output never outgrows either.
  std::vector<char> raw(bytes.begin(), bytes.end());
  for (std::size_t room : {raw.size() + 1, std::size_t{1}, std::size_t{5}}) {
    std::vector<char> text(room, kUntouched);
    TitleToAscii(raw, text);
    if (std::memchr(text.data(), 0, text.size()) == nullptr) fuzz::Require("no NUL", "TitleToAscii");
  }

  // The writers carry the bytes of every entry through.
  for (const CSaveGame* save : {static_cast<const CSaveGame*>(&inMemory),
                                static_cast<const CSaveGame*>(&onDisk)}) {
    testutil::LoadOutcome outcome;
    outcome.load = LoadResult::kOk;
    outcome.plainLayout = true;
    outcome.conversions = testutil::ConvertToAll(*save, fuzz::ScratchDir());
    fuzz::Require(testutil::CheckOutcome(outcome), "converting");
  }
  return 0;
}
