// A card image held in memory and read from its file a piece at a time, as its bytes are
// first asked for: a window opening a card reads its structure and the icons it shows,
// not every save's data. An image whose bytes are in memory already is simply those.
//
// A piece read after the card was opened comes from the file only while the file still
// has the size and write time it had then (the byte source sees to that); otherwise it
// can't be read, so that no save is ever put together from two versions of the card.
// Before the card reads its file again (to change it), the rest of an image that saves
// were opened from is read (Complete), so that they still read as they were.
//
// Threads may read a held image at once: each piece is read by the one thread that claims
// it, and a thread that needs a piece another is reading waits for it. The pieces a scan
// is about to need can be read on a second core while it goes on (ReadAhead), and the
// pieces of a file about to be read, all in one call to the system (Prefetch).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "io/beside.h"
#include "io/byte_source.h"
#include "io/file.h"
#include "model/entry.h"

namespace card {

class HeldImage final : public HeldBytes {
 public:
  // Pieces are read through `source`, kept open until Release.
  explicit HeldImage(io::SourcePtr source);
  ~HeldImage() override;

  std::uint64_t size() const override { return size_; }
  const std::uint8_t* Bytes(std::uint64_t offset, std::size_t n) const override;
  // Reads the pieces of the extents' first `size` bytes that no thread has claimed, in one
  // call to the system; those it can't read stay unread, for Bytes to report.
  void Prefetch(const std::vector<Extent>& extents, std::uint64_t size) const override;
  // Keeps the file open for a run of reads, when it is still the version held; false
  // otherwise. Release ends the run.
  bool Reopen() const;
  // Stops reading ahead and ends a run: the file closes unless a run that began before it
  // goes on. A piece read later opens it again, only for as long as it reads.
  void Release() const;
  // Reads every piece not read yet; false when one can't be.
  bool Complete() const;
  // How many bytes have been read from the file.
  std::uint64_t BytesRead() const { return read_; }

  // Reads the byte ranges beside the caller, in order, on a second core when one is free
  // (else at once), in place of any read ahead not yet done. The caller goes on through
  // them behind it, reading only a piece it needs that no thread has claimed yet, and
  // waiting for one being read. Called, as Release is, only by the one thread that reads
  // the card's structure.
  void ReadAhead(std::vector<Extent> ranges) const;

  // The bytes read at a time: a page of an image with ECC is 528, a cluster 1,056. Small
  // pieces read a directory's clusters without the files between them.
  static constexpr std::uint64_t kPiece = 4 * 1024;
  // The ranges a read ahead reads in one call to the system.
  static constexpr std::size_t kRangesAtOnce = 8;

 private:
  enum PieceState : std::uint8_t { kUnread, kReading, kRead };

  // Reads each of `reads` through the source (outside a run, the file is let go again);
  // gives them back, each marked done or not.
  std::span<io::File::ReadAt> Load(std::span<io::File::ReadAt> reads) const;
  // Claims pieces from `first` on while they are unread, up to `last`; gives the end of
  // those claimed (first when none).
  std::uint64_t Claim(std::uint64_t first, std::uint64_t last) const;
  // Marks the pieces of claimed reads read, or unread where a read failed, and wakes any
  // reader waiting for them.
  void Settle(std::span<const io::File::ReadAt> reads) const;
  void StopReadingAhead() const;
  // Reads pieces first..end - 1, claimed by this thread, and settles them: read, or
  // unread again when they can't be (false).
  bool ReadClaimed(std::uint64_t first, std::uint64_t end) const;
  // Claims the pieces of a range that no thread has claimed, adding a read of each run of
  // them to `reads` (or lengthening the last read, where the run follows it).
  void ClaimUnclaimed(std::uint64_t offset, std::uint64_t n, std::vector<io::File::ReadAt>& reads) const;
  // Reads the next kRangesAtOnce ranges of the read ahead not yet taken; false when none
  // is left.
  bool ReadNextAhead() const;

  io::SourcePtr source_;
  std::uint64_t size_;
  // Held shared while a piece is read, alone to end a run or count the runs.
  mutable std::shared_mutex fileMutex_;
  mutable bool open_ = true;  // the file stays open between reads: first for the scan, then in runs
  mutable int runs_ = 0;      // the runs going (Reopen)
  // The image's bytes: the source's own when it is in memory, else read into own_.
  const std::uint8_t* data_ = nullptr;
  std::unique_ptr<std::uint8_t[]> own_;  // not cleared: each piece is read before use
  std::unique_ptr<std::atomic<std::uint8_t>[]> state_;  // a PieceState per piece
  std::uint64_t pieces_;
  mutable std::atomic<std::uint64_t> read_{0};
  mutable std::atomic<int> waiters_{0};  // readers waiting for a piece another is reading
  // The read ahead: its ranges, the next not yet taken, its task while it may run, and
  // whether it is to stop.
  mutable std::vector<Extent> ahead_;
  mutable std::atomic<std::size_t> nextAhead_{0};
  mutable std::unique_ptr<io::Beside> aheadTask_;
  mutable std::atomic<bool> stop_{true};
};

// Keeps a held image's file open for a run of reads, when it is still the version held;
// nothing without an image, or when the file has changed.
class HeldRun {
 public:
  explicit HeldRun(const HeldImage* image) : image_(image && image->Reopen() ? image : nullptr) {}
  ~HeldRun() {
    if (image_) image_->Release();
  }
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

 private:
  const HeldImage* image_;
};

}  // namespace card
