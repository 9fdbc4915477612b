#include "io/beside.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace io {

struct Beside::Done {
  bool finished = false;
  std::exception_ptr thrown;
};

namespace {

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
    std::lock_guard lock(mutex_);
    if (busy_) return false;
    busy_ = true;
    task_ = std::move(task);
    done_ = done;
    work_.notify_one();
    return true;
  }

  void Wait(const Beside::Done& done) {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&done] { return done.finished; });
  }

 private:
  static Worker* Start() {
    if (std::thread::hardware_concurrency() < 2) return nullptr;
    auto* w = new Worker;
    try {
      std::thread([w] { w->Run(); }).detach();
    } catch (const std::system_error&) {
      delete w;
      return nullptr;
    }
    return w;
  }

  [[noreturn]] void Run() {
    for (;;) {
      std::function<void()> task;
      std::shared_ptr<Beside::Done> done;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [this] { return task_ != nullptr; });
        task = std::move(task_);
        task_ = nullptr;
        done = std::move(done_);
      }
      std::exception_ptr thrown;
      try {
        task();
      } catch (...) {
        thrown = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        done->thrown = thrown;
        done->finished = true;
        busy_ = false;
      }
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, finished_;
  std::function<void()> task_;
  std::shared_ptr<Beside::Done> done_;
  bool busy_ = false;
};

}  // namespace

Beside::Beside(std::function<void()> task) : done_(std::make_shared<Done>()) {
  Worker* worker = Worker::Get();
  handed_ = worker && worker->TryHand(task, done_);
  if (handed_) return;
  try {
    task();
  } catch (...) {
    done_->thrown = std::current_exception();
  }
  done_->finished = true;
}

Beside::~Beside() {
  if (!handed_ || waited_) return;
  Worker::Get()->Wait(*done_);
}

void Beside::Wait() {
  if (handed_ && !waited_) Worker::Get()->Wait(*done_);
  waited_ = true;
  if (done_->thrown) std::rethrow_exception(std::exchange(done_->thrown, nullptr));
}

}  // namespace io
