#include "fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string_view>

#include "data_kinds.h"
#include "formats/psu/psu.h"
#include "support/icon_builder.h"
#include "support/lzari_encoder.h"
#include "support/max_builder.h"
#include "support/psu_builder.h"
#include "support/xps_builder.h"

namespace bench {

namespace {

void PutWord(Bytes& out, std::uint32_t w) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
}

// Instructions of a few common kinds with registers and offsets drawn from small sets,
// plus a handful of routines that recur whole, as a program's prologues and calls do.
void AppendCode(Bytes& out, std::size_t n, Rng& rng) {
  static const std::uint32_t kOps[] = {0x8C000000, 0xAC000000, 0x24000000, 0x3C000000,
                                       0x0C000000, 0x00000021, 0x10000000, 0x27BD0000};
  std::vector<std::vector<std::uint32_t>> routines;
  for (int r = 0; r < 12; ++r) {
    std::vector<std::uint32_t> words;
    std::uint32_t len = 4 + rng.Below(20);
    for (std::uint32_t i = 0; i < len; ++i)
      words.push_back(kOps[rng.Below(8)] | (rng.Below(32) << 21) | (rng.Below(32) << 16) |
                      (rng.Below(16) * 4));
    routines.push_back(words);
  }
  const std::size_t end = out.size() + n;
  while (out.size() < end) {
    std::uint32_t pick = rng.Below(10);
    if (pick < 4) {
      for (std::uint32_t w : routines[rng.Below(12)]) PutWord(out, w);
    } else if (pick < 5) {
      PutWord(out, 0);  // nop
    } else {
      std::uint32_t op = kOps[rng.Below(8)];
      std::uint32_t imm = (op == 0x0C000000) ? (0x100000 + rng.Below(4096)) : rng.Below(64) * 4;
      PutWord(out, op | (rng.Below(8) + 2) << 21 | (rng.Below(8) + 2) << 16 | imm);
    }
  }
  out.resize(end);
}

void AppendText(Bytes& out, std::size_t n, Rng& rng) {
  static const std::string_view kWords[] = {
      "the ", "memory ", "card ", "save ", "game ", "data ", "slot ", "player ", "level ",
      "score ", "time ", "options ", "sound ", "volume ", "load ", "continue ", "chapter ",
      "of ", "and ", "to ", "a ", "in ", "is ", "you ", "item ", "map ", "world ", "stage ",
      "Press START ", "Loading... ", "Are you sure? ", "Yes ", "No ", ". ", ", ", "\n",
      "\n\n", "1", "2", "0", "BESLES-", "icon.sys ", "SYSTEM ", "CONFIG ", "%d ", "%s\n"};
  const std::size_t end = out.size() + n;
  while (out.size() < end) {
    std::string_view w = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(end);
}

void AppendRandom(Bytes& out, std::size_t n, Rng& rng) {
  for (std::size_t i = 0; i < n; i += 8) {
    std::uint64_t v = rng.Next();
    for (std::size_t k = 0; k < 8 && i + k < n; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
}

std::map<std::string, std::string>& SaveCache() {
  static std::map<std::string, std::string> cache;
  return cache;
}

// icon.sys, an icon and one data file for the rest of fileBytes: the same three entries
// at every size, so that sizes compare on their data alone.
std::vector<std::pair<std::string, Bytes>> SaveFiles(std::size_t fileBytes) {
  std::vector<std::pair<std::string, Bytes>> files;
  Bytes iconSys = testutil::MakeIconSys("Benchmark save");
  std::size_t left = fileBytes - iconSys.size();
  std::size_t icon = std::min<std::size_t>(32 * kKiB, left / 4);
  files.emplace_back("icon.sys", iconSys);
  files.emplace_back("icon.ico", MixedData(icon, 7));
  files.emplace_back("DATA", MixedData(left - icon, 11));
  return files;
}

}  // namespace

Bytes MixedData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 64 * kKiB);
  while (out.size() < n) {
    std::size_t block = kKiB * (1 + rng.Below(64));
    std::uint32_t kind = rng.Below(20);
    if (kind < 7) AppendCode(out, block, rng);
    else if (kind < 13) AppendText(out, block, rng);
    else if (kind < 17) AppendRandom(out, block, rng);
    else out.insert(out.end(), block, 0);
  }
  out.resize(n);
  return out;
}

Bytes RandomData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n);
  AppendRandom(out, n, rng);
  return out;
}

const LzariSample& MixedSample() {
  static const LzariSample s = [] {
    LzariSample m;
    m.plain = MixedData(8 * kMiB, 1);
    m.coded = testutil::LzariCompress(m.plain);
    return m;
  }();
  return s;
}

const LzariSample& RandomSample() {
  static const LzariSample s = [] {
    LzariSample m;
    m.plain = RandomData(kMiB, 2);
    m.coded = testutil::LzariCompress(m.plain);
    return m;
  }();
  return s;
}

const LzariSample& KindSample(const LzariKind& kind) {
  static std::map<std::string, LzariSample> samples;
  auto it = samples.find(kind.name);
  if (it == samples.end()) {
    LzariSample m;
    m.plain = kind.make(kind.bytes, 3);
    m.coded = testutil::LzariCompress(m.plain);
    it = samples.emplace(kind.name, std::move(m)).first;
  }
  return it->second;
}

const testutil::TempDir& Scratch() {
  static const testutil::TempDir dir;
  return dir;
}

namespace {

// The save of `format` holding `files`, written once under `key`.
const std::string& SaveOf(const std::string& format, const std::string& key,
                          const std::vector<std::pair<std::string, Bytes>>& files) {
  const std::string folder = "BESLES-99999BENCH";
  Bytes image;
  if (format == "psu") {
    testutil::PsuImage psu;
    psu.folder = folder;
    for (auto& [name, data] : files) psu.files.push_back({name, data});
    image = psu.Build();
  } else if (format == "xps") {
    testutil::XpsImage xps;
    xps.root.name = folder;
    for (auto& [name, data] : files) xps.files.push_back(testutil::XpsFile(name, data));
    image = xps.Build();
  } else {
    testutil::MaxImage max;
    max.folder = folder;
    for (auto& [name, data] : files) max.files.push_back({name, data});
    image = max.Build();
  }
  std::string path = Scratch().File("save-" + key + "." + format);
  testutil::WriteFile(path, image);
  return SaveCache().emplace(key, path).first->second;
}

}  // namespace

const std::string& SavePath(const std::string& format, std::size_t fileBytes) {
  const std::string key = format + "-" + std::to_string(fileBytes);
  auto& cache = SaveCache();
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  return SaveOf(format, key, SaveFiles(fileBytes));
}

const std::string& KindSavePath(const std::string& format, const LzariKind& kind) {
  const std::string key = format + "-" + kind.name;
  auto& cache = SaveCache();
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  return SaveOf(format, key, {{"icon.sys", testutil::MakeIconSys("Benchmark save")}, {"DATA", KindSample(kind).plain}});
}

const std::string& SmallSavesFolder(std::size_t count) {
  const std::string key = "small-" + std::to_string(count);
  auto& cache = SaveCache();
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  std::string folder = Scratch().File(key);
  std::filesystem::create_directories(folder);
  Rng rng(count);
  Bytes pool = MixedData(4 * kMiB, 5);
  for (std::size_t i = 0; i < count; ++i) {
    testutil::PsuImage psu;
    psu.folder = "BESLES-" + std::to_string(10000 + i) + "SMALL";
    std::uint32_t files = 3 + rng.Below(3);
    for (std::uint32_t f = 0; f < files; ++f) {
      std::size_t size = kKiB + rng.Below(49 * kKiB + 1);
      std::size_t at = rng.Below(static_cast<std::uint32_t>(pool.size() - size));
      Bytes data(pool.begin() + static_cast<std::ptrdiff_t>(at),
                 pool.begin() + static_cast<std::ptrdiff_t>(at + size));
      psu.files.push_back({"FILE" + std::to_string(f), std::move(data)});
    }
    char name[32];
    std::snprintf(name, sizeof name, "save%04zu.psu", i);
    testutil::WriteFile(folder + "/" + name, psu.Build());
  }
  return cache.emplace(key, folder).first->second;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.is_regular_file()) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

bool DurableCopy(const std::string& from, const std::string& to) {
  const std::string part = to + ".part";
  int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) return false;
  int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  static std::vector<char> buffer(kMiB);
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
      ok = false;
      break;
    }
  }
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  ::close(in);
  ok = ok && std::rename(part.c_str(), to.c_str()) == 0;
  int dir = ::open(Scratch().path().c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return ok;
}


Bytes ThinTrianglesIcon() {
  testutil::IconImage icon;
  for (int k = 0; k < 146; ++k) {
    const auto x = static_cast<std::int16_t>(k * 50 - 3600);
    for (const auto& v : testutil::Triangle({x, -3000, static_cast<std::int16_t>(x + 400), 3000, x, 3000}, 0))
      icon.vertices.push_back(v);
  }
  icon.texture = MixedData(32768, 31);
  return icon.Build();
}

std::unique_ptr<CSaveGame> LoadPsu(const std::string& path, const std::string& folder) {
  auto save = std::make_unique<CPsu>();
  if (save->Load(path) != LoadResult::kOk) return nullptr;
  save->SetName(-1, folder);
  return save;
}

std::unique_ptr<card::Card> NewCard(const std::string& path) {
  card::FormatOptions options;
  options.overwrite = true;
  if (card::FormatImage(path, options) != card::FormatResult::kFormatted) return nullptr;
  return card::OpenCard(path).card;
}

const std::string& FullCardPath() {
  static const std::string path = [] {
    const std::string p = Scratch().File("full.ps2");
    auto c = NewCard(p);
    if (!c) return std::string();
    const Bytes icon = ThinTrianglesIcon();
    for (int i = 0; i < kFullCardSaves; ++i) {
      testutil::PsuImage image;
      image.folder = "BESLES-" + std::to_string(20000 + i) + "FULL";
      testutil::IconSysImage sys;  // names icon.ico, so the card window draws it
      sys.title = "Full card " + std::to_string(i);
      image.files = {{"icon.sys", sys.Build()},
                     {"icon.ico", icon},
                     {"DATA", MixedData(100 * kKiB, 40 + static_cast<std::uint64_t>(i))}};
      const std::string psu = Scratch().File("full-" + std::to_string(i) + ".psu");
      testutil::WriteFile(psu, image.Build());
      auto loaded = LoadPsu(psu, image.folder);
      if (!loaded || c->Import(*loaded).result != card::ImportResult::kImported) return std::string();
    }
    return p;
  }();
  return path;
}

}  // namespace bench
