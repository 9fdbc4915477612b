#include "support/card_builder.h"

#include <stdexcept>

#include "card/card.h"
#include "card/ecc.h"
#include "model/bytes.h"

namespace testutil {

EntryTime CardTestTime() { return MakeTime(2018, 4, 21, 23, 53, 0); }

CardFile CardFile::Format(const std::string& path, bool ecc, unsigned megabytes) {
  card::FormatOptions options;
  options.megabytes = megabytes;
  options.ecc = ecc;
  options.overwrite = true;
  options.time = CardTestTime();
  if (card::FormatImage(path, options) != card::FormatResult::kFormatted)
    throw std::runtime_error("cannot format " + path);
  return Read(path);
}

CardFile CardFile::Read(const std::string& path) {
  CardFile f;
  f.path_ = path;
  f.bytes_ = ReadFile(path);
  const card::ImageClass c = card::ClassifyImage(f.bytes_, f.bytes_.size());
  if (c.kind != card::ImageKind::kCard) throw std::runtime_error(path + " is not a card image");
  f.geometry_ = c.geometry;
  f.superblock_ = card::Superblock::Read(std::span<const std::uint8_t, card::kPageData>(f.bytes_.data(), card::kPageData));
  return f;
}

void CardFile::Store() const { WriteFile(path_, bytes_); }

std::uint8_t* CardFile::Page(std::uint64_t page) { return bytes_.data() + geometry_.PageOffset(page); }

void CardFile::Reseal(std::uint64_t page) {
  if (!geometry_.ecc) return;
  std::uint8_t* p = Page(page);
  card::ComputePageSpare(std::span<const std::uint8_t, card::kPageData>(p, card::kPageData),
                         std::span<std::uint8_t, card::kPageSpare>(p + card::kPageData, card::kPageSpare));
}

namespace {
// Where FAT entry n is: its page and the byte offset in that page (single indirect cluster).
std::pair<std::uint64_t, std::size_t> FatPlace(CardFile& f, const card::Superblock& s, std::uint32_t n) {
  const std::uint8_t* ifc = f.Page(std::uint64_t{s.ifcList[0]} * card::kPagesPerCluster + (n / 256) / 128);
  const std::uint32_t fatCluster = bytes::GetU32LE(ifc + 4 * ((n / 256) % 128));
  return {std::uint64_t{fatCluster} * card::kPagesPerCluster + (n % 256) / 128, 4 * (n % 128)};
}
}  // namespace

std::uint32_t CardFile::Fat(std::uint32_t n) {
  auto [page, at] = FatPlace(*this, superblock_, n);
  return bytes::GetU32LE(Page(page) + at);
}

void CardFile::SetFat(std::uint32_t n, std::uint32_t value) {
  auto [page, at] = FatPlace(*this, superblock_, n);
  bytes::PutU32LE(Page(page) + at, value);
  Reseal(page);
}

std::uint64_t CardFile::ClusterPage(std::uint32_t relative) const {
  return (std::uint64_t{superblock_.allocOffset} + relative) * card::kPagesPerCluster;
}

std::uint64_t CardFile::EntryPage(std::uint32_t firstCluster, std::uint32_t index) {
  std::uint32_t c = firstCluster;
  for (std::uint32_t k = 0; k < index / 2; ++k) c = Fat(c) & 0x7FFFFFFF;
  return ClusterPage(c) + index % 2;
}

DirEntry CardFile::Entry(std::uint64_t page) { return DirEntry::Read(Page(page)); }

void CardFile::SetEntry(std::uint64_t page, const DirEntry& entry) {
  entry.Write(Page(page));
  Reseal(page);
}

void CardFile::SetSuperblockWord(std::size_t offset, std::uint32_t value) {
  bytes::PutU32LE(Page(0) + offset, value);
  Reseal(0);
}

namespace {
DirEntry Entry(std::uint32_t mode, std::uint32_t length, std::uint32_t cluster, const std::string& name) {
  DirEntry d;
  d.mode = mode;
  d.length = length;
  d.cluster = cluster;
  d.SetName(name);
  return d;
}
}  // namespace

void ShareOneChain(CardFile& f, std::uint32_t saves, std::uint32_t clusters) {
  const std::uint32_t rootClusters = (2 + saves + 1) / 2;
  for (std::uint32_t c = 0; c < rootClusters; ++c) f.SetFat(c, c + 1 == rootClusters ? 0xFFFFFFFF : 0x80000000 | (c + 1));
  const std::uint32_t first = rootClusters;
  for (std::uint32_t c = first; c < first + clusters; ++c)
    f.SetFat(c, c + 1 == first + clusters ? 0xFFFFFFFF : 0x80000000 | (c + 1));
  DirEntry dot = f.Entry(f.ClusterPage(0));
  dot.length = 2 + saves;
  f.SetEntry(f.ClusterPage(0), dot);
  for (std::uint32_t s = 0; s < saves; ++s) {
    const std::uint32_t slot = 2 + s;
    f.SetEntry(f.ClusterPage(slot / 2) + slot % 2,
               Entry(0x8427, 2 * (clusters - s), first + s, "BESLES-0000" + std::to_string(s) + "X"));
  }
  for (std::uint32_t k = 0; k < 2 * clusters; ++k) {
    const std::uint64_t page = f.ClusterPage(first + k / 2) + k % 2;
    if (k == 0) f.SetEntry(page, Entry(0x8427, 0, 0, "."));
    else if (k == 1) f.SetEntry(page, Entry(0xA426, 0, 0, ".."));
    else f.SetEntry(page, Entry(0x8497, clusters * 1024, first, "F" + std::to_string(k)));
  }
}

}  // namespace testutil
