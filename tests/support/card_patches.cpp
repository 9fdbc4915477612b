#include "support/card_patches.h"

#include <algorithm>

#include "card/card.h"
#include "card/ecc.h"
#include "card/image_write.h"
#include "model/bytes.h"

namespace testutil {

namespace {
constexpr std::size_t kRecordHead = 6;
// Runs of equal bytes shorter than this don't end a patch.
constexpr std::size_t kJoin = 16;
}  // namespace

const Bytes& FreshRawCard() {
  static const Bytes card = [] {
    Bytes out;
    const EntryTime time{0, 0, 53, 23, 21, 4, 2018};
    card::BuildFreshImage(card::LayoutFor(8192), false, time, [&out](std::span<const std::uint8_t> piece) {
      out.insert(out.end(), piece.begin(), piece.end());
      return true;
    });
    return out;
  }();
  return card;
}

Bytes CardFromPatches(std::span<const std::uint8_t> input) {
  Bytes raw = FreshRawCard();
  const bool ecc = !input.empty() && (input[0] & 1);
  std::size_t at = input.empty() ? 0 : 1;
  while (at + kRecordHead <= input.size()) {
    const std::uint64_t offset = bytes::GetU32LE(input.data() + at) % raw.size();
    std::size_t length = bytes::GetU16LE(input.data() + at + 4);
    at += kRecordHead;
    length = std::min({length, input.size() - at, static_cast<std::size_t>(raw.size() - offset)});
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), length, raw.begin() + static_cast<std::ptrdiff_t>(offset));
    at += length;
  }
  if (!ecc) return raw;
  Bytes out;
  out.reserve(raw.size() / card::kPageData * (card::kPageData + card::kPageSpare));
  for (std::size_t page = 0; page < raw.size(); page += card::kPageData) {
    const std::uint8_t* data = raw.data() + page;
    out.insert(out.end(), data, data + card::kPageData);
    std::uint8_t spare[card::kPageSpare];
    if (std::all_of(data, data + card::kPageData, [](std::uint8_t b) { return b == 0xFF; }))
      std::fill(std::begin(spare), std::end(spare), 0xFF);
    else
      card::ComputePageSpare(std::span<const std::uint8_t, card::kPageData>(data, card::kPageData), spare);
    out.insert(out.end(), std::begin(spare), std::end(spare));
  }
  return out;
}

Bytes PatchesFor(const Bytes& rawCard, bool ecc) {
  const Bytes& fresh = FreshRawCard();
  Bytes out = {static_cast<std::uint8_t>(ecc ? 1 : 0)};
  std::size_t i = 0;
  while (i < rawCard.size() && i < fresh.size()) {
    if (rawCard[i] == fresh[i]) {
      ++i;
      continue;
    }
    // A patch runs until kJoin equal bytes in a row, or its length field is full.
    std::size_t end = i, same = 0;
    while (end < rawCard.size() && end - i < 0xFFFF && same < kJoin) {
      same = rawCard[end] == fresh[end] ? same + 1 : 0;
      ++end;
    }
    end -= same;
    std::uint8_t head[kRecordHead];
    bytes::PutU32LE(head, static_cast<std::uint32_t>(i));
    bytes::PutU16LE(head + 4, static_cast<std::uint16_t>(end - i));
    out.insert(out.end(), head, head + kRecordHead);
    out.insert(out.end(), rawCard.begin() + static_cast<std::ptrdiff_t>(i), rawCard.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
  return out;
}

}  // namespace testutil
