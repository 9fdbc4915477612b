// The X-Port sum of a large data area, worked out on a second thread while the writer
// goes on reading and writing.
//
// The sum is strictly sequential and costs about as much time as the rest of a
// conversion (reading the source, writing the target, flushing it) put together. Done
// one after the other, a conversion takes about twice as long as a plain copy; done side
// by side, about as long. The writer hands each piece over as it writes it; the piece is
// copied into one of a few fixed slots, so the caller's buffer is free again at once.
// The portable build starts no thread: there each piece is summed as it is added, on the
// caller's thread, and no slot is made.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#ifndef MORAVELT_PORTABLE
#include <thread>
#endif
#include <vector>

#include "formats/xps/xps.h"

class BackgroundSum {
 public:
  static constexpr std::size_t kSlotSize = 256 * 1024;
  static constexpr std::size_t kSlots = 8;

  // Starts the thread; nullptr when no thread or no slot memory can be had, and the
  // caller sums on its own thread instead.
  static std::unique_ptr<BackgroundSum> Start();

  // Stops the thread without waiting for the pieces still queued.
  ~BackgroundSum();

  BackgroundSum(const BackgroundSum&) = delete;
  BackgroundSum& operator=(const BackgroundSum&) = delete;

  // Queues the bytes after every byte queued before; waits while every slot is full.
  void Add(std::span<const std::uint8_t> bytes);

  // Waits until everything queued is summed and returns the sum (again when called again).
  std::uint32_t Finish();

 private:
  struct Slot {
    std::vector<std::uint8_t> bytes;
    std::size_t used = 0;
  };

  BackgroundSum();
  void HandOver();  // queues the slot being filled
  void Run();

  std::vector<Slot> slots_;
  Slot* filling_ = nullptr;  // the writer's slot, not yet queued

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slot*> queued_;  // in order, for the thread
  std::deque<Slot*> free_;
  bool finishing_ = false;  // no more pieces: sum what is queued and stop
  bool stopping_ = false;   // stop at once

  XpsChecksum sum_;  // the thread's own until it has stopped
#ifndef MORAVELT_PORTABLE
  std::thread thread_;
#endif
};
