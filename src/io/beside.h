// Work done on a second core while the caller goes on.
//
// One thread is kept for it, started on first use: starting a thread costs tens of
// microseconds, as much as many of the tasks handed to it. A task goes to that thread
// only when it is idle; otherwise (and on a machine with one core, in the portable build,
// which starts no thread, or when the thread is the caller) it runs at once on the
// caller's thread. So a task never waits behind another, and tasks may hand on tasks of
// their own without waiting for one another.
#pragma once

#include <functional>
#include <memory>

namespace io {

class Beside {
 public:
  // Runs `task` beside the caller, or at once when no thread is free for it.
  explicit Beside(std::function<void()> task);
  // Waits for the task (or runs it here, when the thread has not started it yet).
  ~Beside();

  Beside(const Beside&) = delete;
  Beside& operator=(const Beside&) = delete;

  // Returns once the task has run; what it threw is thrown here. A task the other thread
  // has not started yet (it may not get a core for a while) is run here instead.
  void Wait();
  // Whether the task went to the other thread.
  bool Handed() const { return handed_; }

  struct Done;  // what the kept thread reports of a task

 private:
  std::shared_ptr<Done> done_;
  void Finish();

  bool handed_ = false;
  bool waited_ = false;
};

// Watches `ready` for a short while (a few hundred microseconds) without sleeping;
// whether it became true. Waiting this way costs a core for that while, but not the wake
// of a sleeping thread, which takes longer than many of the waits on a second core.
bool WatchBriefly(const std::function<bool()>& ready);

}  // namespace io
