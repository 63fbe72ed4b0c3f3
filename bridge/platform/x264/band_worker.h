// A helper thread that runs one task at a time for its owner, so that the owner can do
// one half of a job while the helper does the other (the pixel transfer converts the
// lower half of a picture here while its caller converts the upper half).
//
// Threads: run and wait are called by the owner, one thread at a time, in pairs: run
// hands the task over and returns at once, wait returns once the task has finished.
// The destructor waits for a task in progress, then stops and joins the thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::x264impl {

class BandWorker {
 public:
  BandWorker();
  ~BandWorker();
  BandWorker(const BandWorker&) = delete;
  BandWorker& operator=(const BandWorker&) = delete;

  // Starts `task` on the helper thread. The previous task must have been waited for.
  void run(std::function<void()> task);
  // Returns once the task given to run has finished.
  void wait();

 private:
  void loop();

  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> task_;  // guarded by lock_; empty when there is nothing to run
  bool busy_ = false;           // guarded by lock_: a task was handed over and has not finished
  bool stopping_ = false;       // guarded by lock_
  std::thread thread_;          // last member: starts after everything it uses
};

}  // namespace platform::x264impl
