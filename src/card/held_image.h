// A card image held in memory and read from its file a piece at a time, as its bytes are
// first asked for: a window opening a card reads its structure and the icons it shows,
// not every save's data.
//
// A piece read after the card was opened comes from the file only while the file still
// has the size and write time it had then; otherwise it can't be read, so that no save is
// ever put together from two versions of the card. Before the card reads its file again
// (to change it), the rest of an image that saves were opened from is read (Complete), so
// that they still read as they were.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/file.h"
#include "model/entry.h"

namespace card {

class HeldImage final : public HeldBytes {
 public:
  // Pieces are read through `file`, open on `path`, until Release.
  HeldImage(std::string path, io::File file, std::uint64_t size, io::FileStamp stamp);

  std::uint64_t size() const override { return size_; }
  const std::uint8_t* Bytes(std::uint64_t offset, std::size_t n) const override;
  // Opens the file again for a run of reads, when it is still the version held; false
  // otherwise. Release ends the run.
  bool Reopen() const;
  // Closes the file: a piece read later opens it again, only for as long as it reads.
  void Release() const;
  // Reads every piece not read yet; false when one can't be.
  bool Complete() const;
  // How many bytes have been read from the file.
  std::uint64_t BytesRead() const { return read_; }

  // The bytes read at a time: an erase block of an image with ECC is 8,448.
  static constexpr std::uint64_t kPiece = 16 * 1024;

 private:
  bool Load(std::uint64_t first, std::uint64_t end) const;  // pieces [first, end)
  bool Read(std::uint64_t first, std::uint64_t end) const;  // from the open file

  std::string path_;
  std::uint64_t size_;
  io::FileStamp stamp_;
  mutable io::File file_;
  std::unique_ptr<std::uint8_t[]> bytes_;  // not cleared: each piece is read before use
  mutable std::vector<bool> loaded_;
  mutable std::uint64_t read_ = 0;
};

// Keeps a held image's file open for a run of reads, when it is still the version held;
// nothing without an image.
class HeldRun {
 public:
  explicit HeldRun(const HeldImage* image) : image_(image) {
    if (image_) image_->Reopen();
  }
  ~HeldRun() {
    if (image_) image_->Release();
  }
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

 private:
  const HeldImage* image_;
};

}  // namespace card
