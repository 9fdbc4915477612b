#include "support/ps1_card_builder.h"

#include <algorithm>

namespace testutil {

namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Seal(std::uint8_t* frame) {
  std::uint8_t x = 0;
  for (int i = 0; i < 127; ++i) x ^= frame[i];
  frame[127] = x;
}

}  // namespace

Bytes Ps1Card::EmptyCard() {
  Bytes card(kPs1Card, 0);
  card[0] = 'M';
  card[1] = 'C';
  Seal(card.data());
  for (int b = 1; b <= 15; ++b) {
    std::uint8_t* f = card.data() + b * 128;
    f[0] = 0xA0;
    f[8] = f[9] = 0xFF;
    Seal(f);
  }
  for (int n = 16; n < 36; ++n) {
    std::uint8_t* f = card.data() + n * 128;
    Put32(f, 0xFFFFFFFF);
    f[8] = f[9] = 0xFF;
    Seal(f);
  }
  std::copy_n(card.begin(), 128, card.begin() + 63 * 128);
  return card;
}

void Ps1Card::SetEntry(int block, std::uint32_t state, std::uint32_t size, std::uint16_t next,
                       const std::string& name, bool seal) {
  std::uint8_t* f = Frame(block);
  std::fill(f, f + 128, 0);
  Put32(f, state);
  Put32(f + 4, size);
  f[8] = static_cast<std::uint8_t>(next);
  f[9] = static_cast<std::uint8_t>(next >> 8);
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 20), f + 10);
  if (seal) Seal(f);
}

void Ps1Card::PutSave(const std::string& name, const std::vector<int>& blocks, const Bytes& data) {
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const std::uint32_t state = k == 0 ? 0x51 : k + 1 == blocks.size() ? 0x53 : 0x52;
    const std::uint16_t next = k + 1 < blocks.size() ? static_cast<std::uint16_t>(blocks[k + 1] - 1) : 0xFFFF;
    SetEntry(blocks[k], state, k == 0 ? static_cast<std::uint32_t>(blocks.size() * kPs1Block) : 0, next,
             k == 0 ? name : "");
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(k * kPs1Block), kPs1Block,
                bytes.begin() + static_cast<std::ptrdiff_t>(blocks[k]) * kPs1Block);
  }
}

Bytes Ps1Card::Block(int block) const {
  const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(block) * kPs1Block;
  return Bytes(at, at + kPs1Block);
}

std::uint32_t Ps1Card::State(int block) const {
  const std::uint8_t* f = bytes.data() + static_cast<std::size_t>(block) * 128;
  return static_cast<std::uint32_t>(f[0] | f[1] << 8 | f[2] << 16 | f[3] << 24);
}

std::uint16_t Ps1Card::Next(int block) const {
  const std::uint8_t* f = bytes.data() + static_cast<std::size_t>(block) * 128;
  return static_cast<std::uint16_t>(f[8] | f[9] << 8);
}

Bytes WithDexDriveHeader(const Bytes& card, const std::vector<std::string>& comments) {
  Bytes file(0xF40, 0);
  const std::string magic = "123-456-STD";
  std::copy(magic.begin(), magic.end(), file.begin());
  file[0x12] = 1;
  file[0x14] = 1;
  file[0x15] = 'M';
  for (int i = 0; i < 15; ++i) {
    file[0x16 + i] = card[static_cast<std::size_t>(i + 1) * 128];
    file[0x26 + i] = card[static_cast<std::size_t>(i + 1) * 128 + 8];
  }
  for (std::size_t i = 0; i < comments.size() && i < 15; ++i)
    std::copy_n(comments[i].begin(), std::min<std::size_t>(comments[i].size(), 255), file.begin() + 0x40 + 256 * static_cast<std::ptrdiff_t>(i));
  file.insert(file.end(), card.begin(), card.end());
  return file;
}

}  // namespace testutil
