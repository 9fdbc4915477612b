#include "card/held_image.h"

#include <algorithm>

namespace card {

HeldImage::HeldImage(std::string path, io::File file, std::uint64_t size, io::FileStamp stamp)
    : path_(std::move(path)),
      size_(size),
      stamp_(stamp),
      file_(std::move(file)),
      bytes_(new std::uint8_t[static_cast<std::size_t>(size)]),
      loaded_(static_cast<std::size_t>((size + kPiece - 1) / kPiece), false) {}

const std::uint8_t* HeldImage::Bytes(std::uint64_t offset, std::size_t n) const {
  if (offset > size_ || n > size_ - offset) return nullptr;
  if (n > 0) {
    // Each run of pieces not read yet is read in one go.
    const std::uint64_t last = (offset + n - 1) / kPiece;
    for (std::uint64_t k = offset / kPiece; k <= last; ++k) {
      if (loaded_[static_cast<std::size_t>(k)]) continue;
      std::uint64_t end = k + 1;
      while (end <= last && !loaded_[static_cast<std::size_t>(end)]) ++end;
      if (!Load(k, end)) return nullptr;
      k = end - 1;
    }
  }
  return bytes_.get() + offset;
}

void HeldImage::Release() const {
  if (file_) file_.Close();
  file_ = io::File();
}

bool HeldImage::Complete() const { return Bytes(0, static_cast<std::size_t>(size_)) != nullptr; }

bool HeldImage::Reopen() const {
  if (file_) return true;
  if (io::StampOf(path_) != stamp_) return false;
  file_ = io::File::OpenRead(path_);
  return file_.ok();
}

bool HeldImage::Load(std::uint64_t first, std::uint64_t end) const {
  if (file_) return Read(first, end);
  const bool ok = Reopen() && Read(first, end);
  Release();
  return ok;
}

bool HeldImage::Read(std::uint64_t first, std::uint64_t end) const {
  const std::uint64_t from = first * kPiece;
  const std::uint64_t to = std::min(end * kPiece, size_);
  if (!file_.ReadExactAt(from, bytes_.get() + from, static_cast<std::size_t>(to - from))) return false;
  std::fill(loaded_.begin() + static_cast<std::ptrdiff_t>(first), loaded_.begin() + static_cast<std::ptrdiff_t>(end), true);
  read_ += to - from;
  return true;
}

}  // namespace card
