// Card images for tests: formatted by the library, filled through its Import, then
// changed field by field (FAT entries, directory entries, single bits) with their ECC
// made valid again, so that a test damages exactly what it means to.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "card/layout.h"
#include "model/dir_entry.h"
#include "support/test_util.h"

namespace testutil {

// The time fresh test cards are formatted with.
EntryTime CardTestTime();

class CardFile {
 public:
  // Formats a fresh 8 MiB card (or `megabytes`) at path and reads it in.
  static CardFile Format(const std::string& path, bool ecc, unsigned megabytes = 8);
  // Reads an existing image.
  static CardFile Read(const std::string& path);

  // Writes the bytes back to the file.
  void Store() const;

  const std::string& path() const { return path_; }
  Bytes& bytes() { return bytes_; }
  const card::Geometry& geometry() const { return geometry_; }

  std::uint8_t* Page(std::uint64_t page);
  // Recomputes the page's ECC (nothing in a raw image).
  void Reseal(std::uint64_t page);

  std::uint32_t Fat(std::uint32_t relative);
  void SetFat(std::uint32_t relative, std::uint32_t value);
  // The page of entry `index` of a directory whose chain starts at `firstCluster`.
  std::uint64_t EntryPage(std::uint32_t firstCluster, std::uint32_t index);
  DirEntry Entry(std::uint64_t page);
  void SetEntry(std::uint64_t page, const DirEntry& entry);
  // The page of a relative cluster's first half.
  std::uint64_t ClusterPage(std::uint32_t relative) const;
  // A superblock word.
  void SetSuperblockWord(std::size_t offset, std::uint32_t value);

 private:
  std::string path_;
  Bytes bytes_;
  card::Geometry geometry_;
  card::Superblock superblock_;
};

// `saves` saves whose directories start along one chain of `clusters` clusters, every page
// of which is an entry of a file that starts at the chain's first cluster: each save and
// each file reaches the whole chain.
void ShareOneChain(CardFile& f, std::uint32_t saves, std::uint32_t clusters);

}  // namespace testutil
