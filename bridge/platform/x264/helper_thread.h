// One thread that runs a task handed to it while its caller does other work, for work
// that splits into two independent halves (the conversion of a large picture).
//
// Ownership: the thread starts with the object and is joined by its destructor.
// Order of calls: start, then finish, from one thread at a time (the owner's); finish
// returns once the task has run. A task must not throw.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::x264impl {

class HelperThread {
 public:
  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // Hands `task` to the thread; it runs at once.
  void start(std::function<void()> task);
  // Waits until the task handed in by start has run.
  void finish();

 private:
  void loop();

  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> task_;  // guarded by lock_; empty once run
  bool busy_ = false;           // guarded by lock_; a task was handed in and has not finished
  bool stopping_ = false;       // guarded by lock_
  std::thread thread_;          // last: starts once the fields above exist
};

}  // namespace platform::x264impl
