// The figures the browser build is measured by: one program, built natively (the release
// preset) and as WebAssembly (the web preset, run by node), each timing the same work on
// the same data in-process. scripts/bench runs both and prints WebAssembly's speed as a
// share of the native build's.
//   lzari_decode      LzariDecode of the bench's 8 MiB mix
//   lzari_encode      LzariEncode of the same data
//   card_open_icons   an 8 MiB card of 50 saves opened and listed, and every save's icon
//                     read and drawn at the size of the card window's list
// Each line is "name seconds", the median of the timed rounds; a round's result is checked
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
#include "icon/render.h"
#include "icon/save_icon.h"

namespace {

constexpr int kRounds = 5;
constexpr int kListIconSize = 32;

// Rounds are run untimed for half a second first: WebAssembly starts in the engine's
// quick baseline code and has its busy functions compiled fully while it runs (a card
// round ran twice as long for its first five rounds in node), and native rounds warm the
// caches.
constexpr std::chrono::milliseconds kWarmUp{500};

double MedianSeconds(const std::function<bool()>& round) {
  const auto warming = std::chrono::steady_clock::now();
  do {
    if (!round()) return -1;
  } while (std::chrono::steady_clock::now() - warming < kWarmUp);
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

bool OpenAndDrawIcons(const std::string& path) {
  std::unique_ptr<card::Card> c = card::OpenCard(path).card;
  if (!c) return false;
  const card::Listing listing = c->List();
  if (listing.saves.size() != bench::kFullCardSaves) return false;
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
  const std::string& card = bench::FullCardPath();
  Print("card_open_icons", card.empty() ? -1 : MedianSeconds([&] { return OpenAndDrawIcons(card); }));
  return 0;
}
