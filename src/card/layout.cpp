#include "card/layout.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

namespace card {

Superblock Superblock::Read(std::span<const std::uint8_t, kPageData> page) {
  using bytes::GetU16LE;
  using bytes::GetU32LE;
  const std::uint8_t* p = page.data();
  Superblock s;
  s.magicOk = std::memcmp(p + sb::kMagicOffset, sb::kMagic.data(), sb::kMagic.size()) == 0;
  s.pageLen = GetU16LE(p + sb::kPageLenOffset);
  s.pagesPerCluster = GetU16LE(p + sb::kPagesPerClusterOffset);
  s.pagesPerBlock = GetU16LE(p + sb::kPagesPerBlockOffset);
  s.clusters = GetU32LE(p + sb::kClustersOffset);
  s.allocOffset = GetU32LE(p + sb::kAllocOffsetOffset);
  s.allocEnd = GetU32LE(p + sb::kAllocEndOffset);
  s.rootCluster = GetU32LE(p + sb::kRootClusterOffset);
  s.backupBlock1 = GetU32LE(p + sb::kBackup1Offset);
  s.backupBlock2 = GetU32LE(p + sb::kBackup2Offset);
  for (std::size_t i = 0; i < kIfcSlots; ++i) s.ifcList[i] = GetU32LE(p + sb::kIfcListOffset + 4 * i);
  s.maxAllocatable = GetU32LE(p + sb::kMaxAllocatableOffset);
  return s;
}

std::uint32_t Superblock::ConsoleLimit() const {
  // Never onto the backup blocks, whatever alloc_end says.
  const std::uint64_t beforeBackups = std::uint64_t{clusters} - std::min<std::uint64_t>(clusters, std::uint64_t{allocOffset} + 2 * kClustersPerBlock);
  const std::uint32_t area = static_cast<std::uint32_t>(std::min<std::uint64_t>(allocEnd, beforeBackups));
  if (clusters < kStandardSize * 1024) return area;
  std::uint32_t limit = std::min(area, allocEnd / 1000 * 1000 + 1);
  // A card that records a lower figure (the console writes its own at 0x170) keeps it.
  if (maxAllocatable >= 1 && maxAllocatable < limit) limit = maxAllocatable;
  return limit;
}

FreshLayout LayoutFor(std::uint32_t clusters) {
  FreshLayout l{};
  l.clusters = clusters;
  l.fatClusters = (clusters + kFatPerCluster - 1) / kFatPerCluster;
  l.ifcClusters = (l.fatClusters + kFatPerCluster - 1) / kFatPerCluster;
  l.allocOffset = 8 + l.ifcClusters + l.fatClusters;
  // The two backup blocks at the end of the card are outside the allocation area.
  l.allocEnd = clusters - l.allocOffset - 2 * kClustersPerBlock;
  return l;
}

std::array<std::uint8_t, kPageData> FreshSuperblock(const FreshLayout& l) {
  using bytes::PutU16LE;
  using bytes::PutU32LE;
  std::array<std::uint8_t, kPageData> page{};
  std::uint8_t* p = page.data();
  std::memcpy(p + sb::kMagicOffset, sb::kMagic.data(), sb::kMagic.size());
  std::memcpy(p + sb::kVersionOffset, sb::kVersion.data(), sb::kVersion.size());
  PutU16LE(p + sb::kPageLenOffset, kPageData);
  PutU16LE(p + sb::kPagesPerClusterOffset, kPagesPerCluster);
  PutU16LE(p + sb::kPagesPerBlockOffset, kPagesPerBlock);
  PutU16LE(p + sb::kUnknown2EOffset, 0xFF00);
  PutU32LE(p + sb::kClustersOffset, l.clusters);
  PutU32LE(p + sb::kAllocOffsetOffset, l.allocOffset);
  PutU32LE(p + sb::kAllocEndOffset, l.allocEnd);
  PutU32LE(p + sb::kRootClusterOffset, 0);
  PutU32LE(p + sb::kBackup1Offset, l.clusters / kClustersPerBlock - 1);
  PutU32LE(p + sb::kBackup2Offset, l.clusters / kClustersPerBlock - 2);
  for (std::uint32_t i = 0; i < l.ifcClusters; ++i) PutU32LE(p + sb::kIfcListOffset + 4 * i, 8 + i);
  std::memset(p + sb::kBadBlockListOffset, 0xFF, 4 * kIfcSlots);
  p[sb::kCardTypeOffset] = sb::kCardType;
  p[sb::kCardFlagsOffset] = sb::kCardFlags;
  PutU32LE(p + sb::kClusterSizeOffset, kClusterSize);
  PutU32LE(p + sb::kFatPerClusterOffset, kFatPerCluster);
  PutU32LE(p + sb::kClustersPerBlockOffset, kClustersPerBlock);
  PutU32LE(p + sb::kUnknown160Offset, 0xFFFFFFFF);
  // As the console writes it: the thousands of clusters on the card, plus one.
  PutU32LE(p + sb::kMaxAllocatableOffset, l.clusters / 1000 * 1000 + 1);
  PutU32LE(p + sb::kUnknown17COffset, 0xFFFFFFFF);
  std::memset(p + sb::kFillOffset, 0xFF, kPageData - sb::kFillOffset);
  return page;
}

namespace {

// The card a size could be when the superblock can't say: a power of two from 1 MiB up,
// stored raw or with ECC.
std::optional<Geometry> GeometryForSize(std::uint64_t size) {
  for (std::uint32_t clusters = kMinClusters; clusters <= kMaxClusters; clusters *= 2) {
    for (bool ecc : {true, false}) {
      Geometry g{clusters, ecc};
      if (g.ImageSize() == size) return g;
    }
  }
  return std::nullopt;
}

}  // namespace

ImageClass ClassifyImage(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  ImageClass c;
  const bool magic = head.size() >= sb::kMagic.size() &&
                     std::memcmp(head.data(), sb::kMagic.data(), sb::kMagic.size()) == 0;
  if (magic && head.size() >= sb::kClustersOffset + 4) {
    // The layout follows from the size, checked against the superblock's cluster count.
    const std::uint32_t clusters = bytes::GetU32LE(head.data() + sb::kClustersOffset);
    if (clusters >= kMinClusters && clusters <= kMaxClusters) {
      for (bool ecc : {true, false}) {
        Geometry g{clusters, ecc};
        if (g.ImageSize() == fileSize) return {ImageKind::kCard, g};
      }
    }
    return c;
  }
  if (fileSize == kPs1CardSize) return {ImageKind::kPs1Card, {}};
  if (auto g = GeometryForSize(fileSize)) return {ImageKind::kUnformatted, *g};
  return c;
}

bool LooksLikeCardImage(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return ClassifyImage(head, fileSize).kind == ImageKind::kCard;
}

}  // namespace card
