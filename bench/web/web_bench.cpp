// The figures the browser build is measured by: one program, built natively (the release
// preset) and as WebAssembly (the web preset, run by node), each timing the same work on
// the same data in-process. scripts/bench runs both and prints WebAssembly's speed as a
// share of the native build's.
//   lzari_decode      LzariDecode of the bench's 8 MiB mix
//   lzari_encode      LzariEncode of the same data
//   card_open_icons   an 8 MiB card of 50 saves opened and listed, and every save's icon
//                     read and drawn at the size of the card window's list
// Each line is "name seconds", the median of the rounds; a round's result is checked
// before it counts, so a build that gets the work wrong prints no figure for it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card/card.h"
#include "fixtures.h"
#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#include "formats/psu/psu.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "support/icon_builder.h"
#include "support/psu_builder.h"

namespace {

constexpr int kRounds = 5;
constexpr int kCardSaves = 50;
constexpr int kListIconSize = 32;

double MedianSeconds(const std::function<bool()>& round) {
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!round()) return -1;
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Print(const char* name, double seconds) {
  if (seconds < 0)
    std::printf("%s failed\n", name);
  else
    std::printf("%s %.6f\n", name, seconds);
}

// An 8 MiB card with ECC holding kCardSaves saves, each with icon.sys, a textured icon
// and 100 KiB of data.
std::string FullCard() {
  const std::string path = bench::Scratch().File("full.ps2");
  card::FormatOptions options;
  options.overwrite = true;
  if (card::FormatImage(path, options) != card::FormatResult::kFormatted) return {};
  std::unique_ptr<card::Card> c = card::OpenCard(path).card;
  if (!c) return {};
  const bench::Bytes icon = bench::ThinTrianglesIcon();
  for (int i = 0; i < kCardSaves; ++i) {
    testutil::PsuImage image;
    image.folder = "BESLES-" + std::to_string(20000 + i) + "FULL";
    testutil::IconSysImage sys;
    sys.title = "Full card " + std::to_string(i);
    image.files = {{"icon.sys", sys.Build()},
                   {"icon.ico", icon},
                   {"DATA", bench::MixedData(100 * bench::kKiB, 40 + static_cast<std::uint64_t>(i))}};
    const std::string psu = bench::Scratch().File("full-" + std::to_string(i) + ".psu");
    testutil::WriteFile(psu, image.Build());
    CPsu save;
    if (save.Load(psu) != LoadResult::kOk || c->Import(save).result != card::ImportResult::kImported) return {};
  }
  return path;
}

bool OpenAndDrawIcons(const std::string& path) {
  std::unique_ptr<card::Card> c = card::OpenCard(path).card;
  if (!c) return false;
  const card::Listing listing = c->List();
  if (listing.saves.size() != kCardSaves) return false;
  for (const card::SaveInfo& info : listing.saves) {
    std::unique_ptr<CCardSave> save = c->ReadableParts(info.folder);
    if (!save) return false;
    const icon::Result<icon::SaveIcon> loaded = icon::LoadSaveIcon(*save, icon::IconSlot::kNormal);
    if (!loaded.ok()) return false;
    const icon::Result<icon::Picture> drawn =
        icon::RenderIcon(loaded.value().icon, loaded.value().iconSys, kListIconSize);
    if (!drawn.ok()) return false;
  }
  return true;
}

}  // namespace

int main() {
  const bench::LzariSample& sample = bench::MixedSample();
  bench::Bytes plain(sample.plain.size());
  auto decodeState = std::make_unique<LzariState>();
  Print("lzari_decode", MedianSeconds([&] {
          return LzariDecode(sample.coded, plain.data(), static_cast<std::uint32_t>(plain.size()), *decodeState) ==
                     LzariResult::kDecoded &&
                 plain == sample.plain;
        }));
  auto encodeState = std::make_unique<LzariEncodeState>();
  bench::Bytes coded(lzari::EncodeBound(sample.plain.size()));
  Print("lzari_encode", MedianSeconds([&] {
          const std::int64_t n = LzariEncode(sample.plain, coded, *encodeState);
          return n == static_cast<std::int64_t>(lzari::kLengthFieldSize + sample.coded.size()) &&
                 std::equal(sample.coded.begin(), sample.coded.end(), coded.begin() + lzari::kLengthFieldSize);
        }));
  const std::string card = FullCard();
  Print("card_open_icons", card.empty() ? -1 : MedianSeconds([&] { return OpenAndDrawIcons(card); }));
  return 0;
}
