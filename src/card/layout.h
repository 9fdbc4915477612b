// Where things are on a PS2 memory card, and how an image file stores its pages.
//
// A page is 512 data bytes plus a 16-byte spare area (the ECC); 2 pages make a cluster of
// 1,024 bytes, 16 pages an erase block of 8 clusters. An image "with ECC" stores 528
// bytes per page, a "raw" image 512. Page 0 is the superblock (little-endian):
//
//   offset  width  field
//   0x00    28     magic "Sony PS2 Memory Card Format " (the trailing space belongs to it)
//   0x1C    12     version, "1.2.0.0" then NULs
//   0x28    2      page_len (512)        0x2A  2  pages_per_cluster (2)
//   0x2C    2      pages_per_block (16)  0x2E  2  0xFF00
//   0x30    4      clusters_per_card
//   0x34    4      alloc_offset: the absolute cluster of relative cluster 0
//   0x38    4      alloc_end: relative clusters in the allocation area
//   0x3C    4      rootdir_cluster (relative)
//   0x40    4      backup_block1 (the last block)   0x44  4  backup_block2 (the one before)
//   0x50    128    ifc_list: 32 absolute clusters of the indirect FAT
//   0xD0    128    bad_block_list: 32 × -1
//   0x150   1      card_type (2)         0x151 1  card_flags (0x2B)
//   0x154   ...    written by the console's format: 1024, 256, 8, -1, then at 0x170 the
//                  clusters it lets saves use, at 0x17C -1, and 0xFF from 0x180 on
//
// The FAT: entry n sits in the absolute cluster named by word (n / 256) % 256 of the
// indirect cluster ifc_list[n / 65536], at word n % 256. Bit 31 set means in use, bits
// 0-30 the next relative cluster, 0xFFFFFFFF the end of a chain; bit 31 clear means free
// (a deletion clears only that bit). 0xFFFFFFFD marks a bad cluster.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "card/ecc.h"

namespace card {

inline constexpr std::size_t kClusterSize = 1024;
inline constexpr std::uint32_t kPagesPerCluster = 2;
inline constexpr std::uint32_t kPagesPerBlock = 16;
inline constexpr std::uint32_t kClustersPerBlock = kPagesPerBlock / kPagesPerCluster;
inline constexpr std::uint32_t kEntriesPerCluster = 2;  // 512-byte directory entries
inline constexpr std::uint32_t kFatPerCluster = kClusterSize / 4;
inline constexpr std::uint32_t kIfcSlots = 32;
// The most clusters the indirect FAT can address: 32 × 256 × 256 (a 2 GiB card).
inline constexpr std::uint32_t kMaxClusters = kIfcSlots * kFatPerCluster * kFatPerCluster;
inline constexpr std::uint32_t kMinClusters = 1024;

inline constexpr std::uint32_t kFatInUse = 0x80000000;
inline constexpr std::uint32_t kFatEnd = 0xFFFFFFFF;
inline constexpr std::uint32_t kFatBad = 0xFFFFFFFD;
inline constexpr std::uint32_t kFatFresh = 0x7FFFFFFF;  // a free entry as a format writes it

// The 1.44 MB-era PlayStation card: 128 KiB, refused with its own message.
inline constexpr std::uint64_t kPs1CardSize = 131072;

namespace sb {
inline constexpr std::string_view kMagic = "Sony PS2 Memory Card Format ";
inline constexpr std::string_view kVersion = "1.2.0.0";
inline constexpr std::size_t kMagicOffset = 0x00;
inline constexpr std::size_t kVersionOffset = 0x1C;
inline constexpr std::size_t kPageLenOffset = 0x28;
inline constexpr std::size_t kPagesPerClusterOffset = 0x2A;
inline constexpr std::size_t kPagesPerBlockOffset = 0x2C;
inline constexpr std::size_t kUnknown2EOffset = 0x2E;
inline constexpr std::size_t kClustersOffset = 0x30;
inline constexpr std::size_t kAllocOffsetOffset = 0x34;
inline constexpr std::size_t kAllocEndOffset = 0x38;
inline constexpr std::size_t kRootClusterOffset = 0x3C;
inline constexpr std::size_t kBackup1Offset = 0x40;
inline constexpr std::size_t kBackup2Offset = 0x44;
inline constexpr std::size_t kIfcListOffset = 0x50;
inline constexpr std::size_t kBadBlockListOffset = 0xD0;
inline constexpr std::size_t kCardTypeOffset = 0x150;
inline constexpr std::size_t kCardFlagsOffset = 0x151;
inline constexpr std::size_t kClusterSizeOffset = 0x154;
inline constexpr std::size_t kFatPerClusterOffset = 0x158;
inline constexpr std::size_t kClustersPerBlockOffset = 0x15C;
inline constexpr std::size_t kUnknown160Offset = 0x160;
inline constexpr std::size_t kMaxAllocatableOffset = 0x170;
inline constexpr std::size_t kUnknown17COffset = 0x17C;
inline constexpr std::size_t kFillOffset = 0x180;
inline constexpr std::uint8_t kCardType = 2;
inline constexpr std::uint8_t kCardFlags = 0x2B;
}  // namespace sb

// The superblock's fields.
struct Superblock {
  bool magicOk = false;
  std::uint16_t pageLen = 0;
  std::uint16_t pagesPerCluster = 0;
  std::uint16_t pagesPerBlock = 0;
  std::uint32_t clusters = 0;
  std::uint32_t allocOffset = 0;
  std::uint32_t allocEnd = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t backupBlock1 = 0;
  std::uint32_t backupBlock2 = 0;
  std::array<std::uint32_t, kIfcSlots> ifcList{};
  std::uint32_t maxAllocatable = 0;  // 0x170; 0 on cards formatted by some PC tools

  static Superblock Read(std::span<const std::uint8_t, kPageData> page);

  // FAT clusters needed to describe the allocation area.
  std::uint32_t FatClusters() const { return (allocEnd + kFatPerCluster - 1) / kFatPerCluster; }
  // Relative clusters a save may use, counted from cluster 0: the console allows no more
  // than the thousands below alloc_end, plus one (8,001 on an 8 MiB card).
  std::uint32_t ConsoleLimit() const;
};

// The layout a fresh card of `clusters` clusters gets, as the console formats it.
struct FreshLayout {
  std::uint32_t clusters;
  std::uint32_t ifcClusters;  // indirect clusters, from absolute cluster 8
  std::uint32_t fatClusters;  // FAT clusters, right after them
  std::uint32_t allocOffset;
  std::uint32_t allocEnd;
};
FreshLayout LayoutFor(std::uint32_t clusters);

// Page 0 of a card of that layout as the console writes it.
std::array<std::uint8_t, kPageData> FreshSuperblock(const FreshLayout& layout);

// How the pages of an image file are stored.
struct Geometry {
  std::uint32_t clusters = 0;
  bool ecc = false;

  std::uint64_t PageStride() const { return ecc ? kPageData + kPageSpare : kPageData; }
  std::uint64_t Pages() const { return std::uint64_t{clusters} * kPagesPerCluster; }
  std::uint64_t PageOffset(std::uint64_t page) const { return page * PageStride(); }
  std::uint64_t ImageSize() const { return Pages() * PageStride(); }
};

// What a file is, from its first bytes (at least the first 0x34) and its size.
enum class ImageKind {
  kCard,         // a PS2 card image, with ECC or raw (Geometry says which)
  kPs1Card,      // a 128 KiB PlayStation card
  kUnformatted,  // the size of a PS2 card image but no superblock
  kUnknown,
};
struct ImageClass {
  ImageKind kind = ImageKind::kUnknown;
  Geometry geometry;  // for kCard, and for kUnformatted the likeliest one
};
ImageClass ClassifyImage(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// The content check: true for a PS2 card image under any name.
bool LooksLikeCardImage(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// The sizes a card is formatted in, in MiB.
inline constexpr std::array<unsigned, 4> kFormatSizes = {8, 16, 32, 64};

}  // namespace card
