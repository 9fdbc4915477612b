#include "formats/xps/background_sum.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#ifdef MORAVELT_PORTABLE

BackgroundSum::BackgroundSum() = default;

std::unique_ptr<BackgroundSum> BackgroundSum::Start() { return std::unique_ptr<BackgroundSum>(new BackgroundSum()); }

BackgroundSum::~BackgroundSum() = default;

void BackgroundSum::Add(std::span<const std::uint8_t> bytes) { sum_.Add(bytes); }

std::uint32_t BackgroundSum::Finish() { return sum_.value(); }

#else

BackgroundSum::BackgroundSum() : slots_(kSlots) {
  for (Slot& s : slots_) {
    s.bytes.resize(kSlotSize);
    free_.push_back(&s);
  }
}

std::unique_ptr<BackgroundSum> BackgroundSum::Start() {
  try {
    std::unique_ptr<BackgroundSum> b(new BackgroundSum());
    b->thread_ = std::thread([p = b.get()] { p->Run(); });
    return b;
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
  return nullptr;
}

BackgroundSum::~BackgroundSum() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundSum::Add(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    if (!filling_) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !free_.empty(); });
      filling_ = free_.front();
      free_.pop_front();
      filling_->used = 0;
    }
    std::size_t n = std::min(bytes.size(), kSlotSize - filling_->used);
    std::memcpy(filling_->bytes.data() + filling_->used, bytes.data(), n);
    filling_->used += n;
    bytes = bytes.subspan(n);
    if (filling_->used == kSlotSize) HandOver();
  }
}

void BackgroundSum::HandOver() {
  {
    std::lock_guard lock(mutex_);
    queued_.push_back(filling_);
  }
  filling_ = nullptr;
  changed_.notify_all();
}

std::uint32_t BackgroundSum::Finish() {
  if (!thread_.joinable()) return sum_.value();  // finished before
  if (filling_ && filling_->used > 0) HandOver();
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  return sum_.value();
}

void BackgroundSum::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || finishing_ || !queued_.empty(); });
    if (stopping_ || queued_.empty()) return;  // stopped, or finished and all summed
    Slot* s = queued_.front();
    queued_.pop_front();
    lock.unlock();
    sum_.Add(std::span<const std::uint8_t>(s->bytes.data(), s->used));
    lock.lock();
    free_.push_back(s);
    changed_.notify_all();
  }
}

#endif  // MORAVELT_PORTABLE
