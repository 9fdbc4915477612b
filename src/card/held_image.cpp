#include "card/held_image.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace card {

HeldImage::HeldImage(std::string path, io::File file, std::uint64_t size, io::FileStamp stamp)
    : path_(std::move(path)),
      size_(size),
      stamp_(stamp),
      file_(std::move(file)),
      bytes_(new std::uint8_t[static_cast<std::size_t>(size)]),
      pieces_((size + kPiece - 1) / kPiece) {
  state_.reset(new std::atomic<std::uint8_t>[static_cast<std::size_t>(pieces_)]);
  for (std::uint64_t k = 0; k < pieces_; ++k) state_[k].store(kUnread, std::memory_order_relaxed);
}

HeldImage::~HeldImage() { StopReadingAhead(); }

const std::uint8_t* HeldImage::Bytes(std::uint64_t offset, std::size_t n) const {
  if (offset > size_ || n > size_ - offset) return nullptr;
  if (n > 0) {
    // Each run of pieces not read yet is read in one go, by the thread that claims it.
    const std::uint64_t last = (offset + n - 1) / kPiece;
    for (std::uint64_t k = offset / kPiece; k <= last;) {
      const std::uint8_t state = state_[k].load(std::memory_order_acquire);
      if (state == kRead) {
        ++k;
      } else if (state == kReading) {
        // Another thread is reading it: meanwhile this one reads the next range of the
        // read ahead, else watches, then waits; then it looks again.
        if (!ReadNextAhead() &&
            !io::WatchBriefly([this, k] { return state_[k].load(std::memory_order_acquire) != kReading; })) {
          ++waiters_;
          state_[k].wait(kReading);
          --waiters_;
        }
      } else if (const std::uint64_t end = Claim(k, last); end > k) {
        if (!ReadClaimed(k, end)) return nullptr;
        k = end;
      }
    }
  }
  return bytes_.get() + offset;
}

bool HeldImage::ReadClaimed(std::uint64_t first, std::uint64_t end) const {
  const std::uint64_t from = first * kPiece, to = std::min(end * kPiece, size_);
  const bool ok = Load(from, to, bytes_.get() + from);
  if (ok) read_ += to - from;
  Settle(first, end, ok ? kRead : kUnread);
  return ok;
}

void HeldImage::ReadUnclaimed(std::uint64_t offset, std::uint64_t n) const {
  if (offset > size_ || n > size_ - offset || n == 0) return;
  const std::uint64_t last = (offset + n - 1) / kPiece;
  for (std::uint64_t k = offset / kPiece; k <= last; ++k) {
    const std::uint64_t end = Claim(k, std::min(last, k + kRunAhead - 1));
    if (end == k) continue;  // read, or being read by another
    if (!ReadClaimed(k, end)) return;
    k = end - 1;
  }
}

bool HeldImage::ReadNextAhead() const {
  if (stop_.load(std::memory_order_relaxed)) return false;
  const std::size_t i = nextAhead_++;
  if (i >= ahead_.size()) return false;
  // From the last range back: the thread that handed them over reads from the first on.
  const auto& [offset, n] = ahead_[ahead_.size() - 1 - i];
  ReadUnclaimed(offset, n);
  return true;
}

std::uint64_t HeldImage::Claim(std::uint64_t first, std::uint64_t last) const {
  std::uint64_t end = first;
  for (std::uint8_t unread = kUnread; end <= last && state_[end].compare_exchange_strong(unread, kReading); ++end)
    unread = kUnread;
  return end;
}

void HeldImage::Settle(std::uint64_t first, std::uint64_t end, PieceState state) const {
  for (std::uint64_t k = first; k < end; ++k) state_[k].store(state);
  // Waking costs a call to the system: only made when a reader may be waiting.
  if (waiters_.load() > 0)
    for (std::uint64_t k = first; k < end; ++k) state_[k].notify_all();
}

void HeldImage::Release() const {
  StopReadingAhead();
  std::unique_lock lock(fileMutex_);
  if (file_) file_.Close();
  file_ = io::File();
}

bool HeldImage::Complete() const { return Bytes(0, static_cast<std::size_t>(size_)) != nullptr; }

bool HeldImage::Reopen() const {
  std::unique_lock lock(fileMutex_);
  if (file_) return true;
  if (io::StampOf(path_) != stamp_) return false;
  file_ = io::File::OpenRead(path_);
  return file_.ok();
}

bool HeldImage::Load(std::uint64_t from, std::uint64_t to, std::uint8_t* out) const {
  {
    std::shared_lock lock(fileMutex_);
    if (file_) return file_.ReadExactAt(from, out, static_cast<std::size_t>(to - from));
  }
  if (io::StampOf(path_) != stamp_) return false;
  io::File own = io::File::OpenRead(path_);
  return own.ok() && own.ReadExactAt(from, out, static_cast<std::size_t>(to - from));
}

void HeldImage::ReadAhead(Ranges ranges) const {
  StopReadingAhead();
  ahead_ = std::move(ranges);
  nextAhead_ = 0;
  stop_ = false;
  aheadTask_ = std::make_unique<io::Beside>([this] {
    try {
      while (ReadNextAhead()) {
      }
    } catch (const std::exception&) {
    }
  });
}

void HeldImage::StopReadingAhead() const {
  if (!aheadTask_) return;
  stop_ = true;
  aheadTask_->Wait();
  aheadTask_.reset();
  ahead_.clear();
}

}  // namespace card
