#include "card/held_image.h"

#include <algorithm>
#include <mutex>

namespace card {

HeldImage::HeldImage(io::SourcePtr source)
    : source_(std::move(source)), size_(source_->size()), pieces_((size_ + kPiece - 1) / kPiece) {
  data_ = source_->data();
  if (!data_) {
    own_.reset(new std::uint8_t[static_cast<std::size_t>(size_)]);
    data_ = own_.get();
  }
  const std::uint8_t first = source_->data() ? kRead : kUnread;
  state_.reset(new std::atomic<std::uint8_t>[static_cast<std::size_t>(pieces_)]);
  for (std::uint64_t k = 0; k < pieces_; ++k) state_[k].store(first, std::memory_order_relaxed);
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
        // Another thread is reading it (the read ahead, most often, a batch that takes a
        // few microseconds): this one watches, then waits; then it looks again.
        if (!io::WatchBriefly([this, k] { return state_[k].load(std::memory_order_acquire) != kReading; })) {
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
  return data_ + offset;
}

bool HeldImage::ReadClaimed(std::uint64_t first, std::uint64_t end) const {
  const std::uint64_t from = first * kPiece, to = std::min(end * kPiece, size_);
  io::File::ReadAt read{from, own_.get() + from, static_cast<std::size_t>(to - from)};
  Settle(Load({&read, 1}));
  return read.done;
}

void HeldImage::ClaimUnclaimed(std::uint64_t offset, std::uint64_t n, std::vector<io::File::ReadAt>& reads) const {
  if (offset > size_ || n > size_ - offset || n == 0) return;
  const std::uint64_t last = (offset + n - 1) / kPiece;
  for (std::uint64_t k = offset / kPiece; k <= last; ++k) {
    const std::uint64_t end = Claim(k, last);
    if (end == k) continue;  // read, or being read by another
    const std::uint64_t from = k * kPiece, to = std::min(end * kPiece, size_);
    if (!reads.empty() && reads.back().offset + reads.back().n == from)
      reads.back().n += static_cast<std::size_t>(to - from);
    else
      reads.push_back({from, own_.get() + from, static_cast<std::size_t>(to - from)});
    k = end - 1;
  }
}

void HeldImage::Prefetch(const std::vector<Extent>& extents, std::uint64_t size) const {
  thread_local std::vector<io::File::ReadAt> reads;
  reads.clear();
  std::uint64_t left = size;
  for (std::size_t i = 0; i < extents.size() && left > 0; ++i) {
    const std::uint64_t n = std::min(left, extents[i].length);
    ClaimUnclaimed(extents[i].offset, n, reads);
    left -= n;
  }
  if (!reads.empty()) Settle(Load(reads));
}

bool HeldImage::ReadNextAhead() const {
  if (stop_.load(std::memory_order_relaxed)) return false;
  const std::size_t first = nextAhead_.fetch_add(kRangesAtOnce);
  if (first >= ahead_.size()) return false;
  // Several ranges' pieces claimed, then read in one call to the system where it can.
  thread_local std::vector<io::File::ReadAt> reads;
  reads.clear();
  for (std::size_t i = first; i < std::min(first + kRangesAtOnce, ahead_.size()); ++i)
    ClaimUnclaimed(ahead_[i].offset, ahead_[i].length, reads);
  if (!reads.empty()) Settle(Load(reads));
  return true;
}

std::uint64_t HeldImage::Claim(std::uint64_t first, std::uint64_t last) const {
  std::uint64_t end = first;
  for (std::uint8_t unread = kUnread; end <= last && state_[end].compare_exchange_strong(unread, kReading); ++end)
    unread = kUnread;
  return end;
}

void HeldImage::Settle(std::span<const io::File::ReadAt> reads) const {
  // Pieces that could not be read are unread again: a reader that needs one reads it
  // itself, and reports its failure.
  for (const io::File::ReadAt& r : reads) {
    if (r.done) read_ += r.n;
    for (std::uint64_t k = r.offset / kPiece; k * kPiece < r.offset + r.n; ++k)
      state_[k].store(r.done ? kRead : kUnread);
  }
  // Waking costs a call to the system: only made when a reader may be waiting.
  if (waiters_.load() > 0)
    for (const io::File::ReadAt& r : reads)
      for (std::uint64_t k = r.offset / kPiece; k * kPiece < r.offset + r.n; ++k) state_[k].notify_all();
}

void HeldImage::Release() const {
  StopReadingAhead();
  std::unique_lock lock(fileMutex_);
  if (runs_ > 0 && --runs_ > 0) return;  // a run that began before this one goes on
  open_ = false;
  source_->Release();
}

bool HeldImage::Complete() const { return Bytes(0, static_cast<std::size_t>(size_)) != nullptr; }

bool HeldImage::Reopen() const {
  std::unique_lock lock(fileMutex_);
  if (!open_ && !source_->Hold()) return false;
  open_ = true;
  ++runs_;
  return true;
}

std::span<io::File::ReadAt> HeldImage::Load(std::span<io::File::ReadAt> reads) const {
  std::shared_lock lock(fileMutex_);
  source_->ReadManyAt(reads);
  // Outside a run the file is opened only for as long as it reads.
  if (!open_) source_->Release();
  return reads;
}

void HeldImage::ReadAhead(std::vector<Extent> ranges) const {
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
