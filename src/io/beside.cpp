#include "io/beside.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(MORAVELT_PORTABLE)
#include <immintrin.h>
#endif

namespace io {

struct Beside::Done {
  std::atomic<bool> finished{false};
  std::exception_ptr thrown;  // set before finished
};

namespace {

// Waking a sleeping thread takes a call to the system and, on some machines, tens of
// microseconds before it runs: as long as the tasks handed over. So each side first
// watches for a short while for what it waits for, and sleeps only after that.
constexpr auto kWatch = std::chrono::microseconds(200);

template <class Ready>
bool Watch(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kWatch;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (ready()) return true;
#if (defined(__x86_64__) || defined(__i386__)) && !defined(MORAVELT_PORTABLE)
      _mm_pause();
#else
      std::this_thread::yield();
#endif
    }
    if (std::chrono::steady_clock::now() >= until) return ready();
  }
}

// The kept thread. It is never stopped: it waits for work until the process ends, so it
// is made once and never destroyed (a destroyed condition variable with a waiter on it
// would hang the exit).
class Worker {
 public:
  static Worker* Get() {
    static Worker* const worker = Start();
    return worker;
  }

  // Hands `task` to the thread when it is idle (so never from a task it is running).
  bool TryHand(std::function<void()>& task, const std::shared_ptr<Beside::Done>& done) {
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return false;
    std::lock_guard lock(mutex_);
    task_ = std::move(task);
    done_ = done;
    posted_.store(true, std::memory_order_release);
    work_.notify_one();  // no call to the system unless the thread sleeps
    return true;
  }

  // The task handed over with `done`, when the thread has not taken it yet (it may not
  // get a core for a while): then it is the caller's to run. Else null.
  std::function<void()> TakeBack(const Beside::Done& done) {
    std::lock_guard lock(mutex_);
    if (!posted_.load(std::memory_order_relaxed) || done_.get() != &done) return nullptr;
    posted_.store(false, std::memory_order_relaxed);
    done_ = nullptr;
    busy_.store(false, std::memory_order_release);
    return std::move(task_);
  }

  void Wait(const Beside::Done& done) {
    const auto finished = [&done] { return done.finished.load(std::memory_order_acquire); };
    if (Watch(finished)) return;
    std::unique_lock lock(mutex_);
    finished_.wait(lock, finished);
  }

 private:
  static Worker* Start() {
#ifdef MORAVELT_PORTABLE
    return nullptr;  // the portable build starts no thread: every task runs on its caller
#else
    if (std::thread::hardware_concurrency() < 2) return nullptr;
    auto* w = new Worker;
    try {
      std::thread([w] { w->Run(); }).detach();
    } catch (const std::system_error&) {
      delete w;
      return nullptr;
    }
    return w;
#endif
  }

  [[noreturn]] void Run() {
    const auto posted = [this] { return posted_.load(std::memory_order_acquire); };
    for (;;) {
      Watch(posted);
      std::function<void()> task;
      std::shared_ptr<Beside::Done> done;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, posted);
        task = std::move(task_);
        done = std::move(done_);
        posted_.store(false, std::memory_order_relaxed);
      }
      try {
        task();
      } catch (...) {
        done->thrown = std::current_exception();
      }
      {
        // Under the lock, so that a waiter can't miss the change between looking and sleeping.
        std::lock_guard lock(mutex_);
        done->finished.store(true, std::memory_order_release);
      }
      finished_.notify_all();
      busy_.store(false, std::memory_order_release);
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, finished_;
  std::function<void()> task_;
  std::shared_ptr<Beside::Done> done_;
  std::atomic<bool> busy_{false};    // a task handed over and not yet finished
  std::atomic<bool> posted_{false};  // task_ holds a task not yet taken
};

}  // namespace

bool WatchBriefly(const std::function<bool()>& ready) { return Watch(ready); }

namespace {

void RunHere(const std::function<void()>& task, Beside::Done& done) {
  try {
    task();
  } catch (...) {
    done.thrown = std::current_exception();
  }
  done.finished = true;
}

}  // namespace

Beside::Beside(std::function<void()> task) : done_(std::make_shared<Done>()) {
  Worker* worker = Worker::Get();
  handed_ = worker && worker->TryHand(task, done_);
  if (!handed_) RunHere(task, *done_);
}

Beside::~Beside() {
  if (!waited_) Finish();
}

void Beside::Wait() {
  if (!waited_) Finish();
  if (done_->thrown) std::rethrow_exception(std::exchange(done_->thrown, nullptr));
}

void Beside::Finish() {
  waited_ = true;
  if (!handed_) return;
  // A task the thread has not started is run here rather than waited for.
  if (std::function<void()> task = Worker::Get()->TakeBack(*done_)) return RunHere(task, *done_);
  Worker::Get()->Wait(*done_);
}

}  // namespace io
