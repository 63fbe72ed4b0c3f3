// A small Grand Central Dispatch of our own, enough to run the GCD global queue and
// capture timer on Linux, keeping the promises of GCD they rely on:
//  - a serial queue runs its work items one at a time, in order, on a thread of its own;
//  - a timer source fires at once and then every interval; firings that fall due while
//    an event run waits or runs are merged into one; no event run starts after
//    dispatch_source_cancel; the cancel handler runs on the queue once the last event
//    run has returned; the system holds the source until then;
//  - the global queue runs items side by side; a group counts submitted, unfinished items;
//  - objects are reference counted and freed at the last dispatch_release.
// Dispatch handles are pointers to the objects below, converted with reinterpret_cast
// (the declared dispatch structs are empty and never dereferenced).
#include <dispatch/dispatch.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Object {
  virtual ~Object() = default;
  // Called at the last release.
  virtual void destroy() { delete this; }
  std::atomic<int> references{1};
  std::atomic<void*> context{nullptr};
};

Object* objectOf(const void* handle) { return reinterpret_cast<Object*>(const_cast<void*>(handle)); }
void retain(Object* object) { object->references.fetch_add(1); }
void release(Object* object) {
  if (object->references.fetch_sub(1) == 1) object->destroy();
}

// Runs items on `threads` workers; one worker makes a serial queue.
struct Queue : Object {
  explicit Queue(int threads) {
    for (int i = 0; i < threads; ++i) workers.emplace_back([this] { work(); });
  }
  // Released from one of its own work items, the queue lets that worker finish the item
  // and free it on the way out.
  void destroy() override {
    bool onWorker = false;
    for (const std::thread& worker : workers) onWorker = onWorker || worker.get_id() == std::this_thread::get_id();
    {
      std::lock_guard<std::mutex> hold(lock);
      stopping = true;
      freeOnExit = onWorker;
    }
    changed.notify_all();
    if (onWorker) return;
    for (std::thread& worker : workers) worker.join();
    delete this;
  }
  void submit(std::function<void()> item) {
    {
      std::lock_guard<std::mutex> hold(lock);
      items.push_back(std::move(item));
    }
    changed.notify_one();
  }
  void work() {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
      changed.wait(hold, [this] { return stopping || !items.empty(); });
      if (items.empty()) break;  // stopping, and everything has run
      std::function<void()> item = std::move(items.front());
      items.pop_front();
      hold.unlock();
      item();
      item = nullptr;
      hold.lock();
    }
    if (!freeOnExit) return;
    hold.unlock();
    workers.front().detach();
    delete this;
  }
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void()>> items;  // guarded by lock
  bool stopping = false;                    // guarded by lock
  bool freeOnExit = false;                  // guarded by lock; serial queues only
  std::vector<std::thread> workers;
};

struct Semaphore : Object {
  std::mutex lock;
  std::condition_variable changed;
  intptr_t value = 0;  // guarded by lock
};

struct Group : Object {
  std::mutex lock;
  std::condition_variable empty;
  long pending = 0;  // guarded by lock
};

struct Source : Object {
  ~Source() override {
    if (timer.joinable()) timer.join();
    release(queue);
  }
  Queue* queue = nullptr;  // retained
  dispatch_function_t onEvent = nullptr;
  dispatch_function_t onCancel = nullptr;
  std::chrono::nanoseconds interval{0};
  std::mutex lock;
  std::condition_variable changed;
  bool cancelled = false;  // guarded by lock
  bool eventQueued = false;  // guarded by lock: an event run waits on the queue
  std::thread timer;
};

// Queues one event run unless one is already waiting. Submitting under the source's
// lock keeps every event run ahead of the cancel handler that dispatch_source_cancel
// queues once it has set `cancelled` under the same lock.
void fireOnce(Source* source) {
  std::lock_guard<std::mutex> hold(source->lock);
  if (source->cancelled || source->eventQueued) return;  // merged with the one waiting
  source->eventQueued = true;
  source->queue->submit([source] {
    {
      std::lock_guard<std::mutex> inner(source->lock);
      source->eventQueued = false;
      if (source->cancelled) return;
    }
    source->onEvent(source->context.load());
  });
}

void runTimer(Source* source) {
  auto due = Clock::now();
  std::unique_lock<std::mutex> hold(source->lock);
  while (!source->cancelled) {
    if (source->changed.wait_until(hold, due, [source] { return source->cancelled; })) break;
    hold.unlock();
    fireOnce(source);
    hold.lock();
    due += source->interval;
    if (due < Clock::now()) due = Clock::now();
  }
}

Queue* g_global = new Queue(2);  // never released, like the system's

}  // namespace

extern "C" {

struct dispatch_source_type_s {
  int unused;
};
const struct dispatch_source_type_s _dispatch_source_type_timer = {0};

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) { return when + static_cast<uint64_t>(delta); }

void dispatch_retain(dispatch_object_t object) { retain(objectOf(object)); }
void dispatch_release(dispatch_object_t object) { release(objectOf(object)); }
void dispatch_set_context(dispatch_object_t object, void* context) { objectOf(object)->context = context; }
void* dispatch_get_context(dispatch_object_t object) { return objectOf(object)->context; }

dispatch_queue_t dispatch_queue_create(const char*, dispatch_queue_attr_t) {
  return reinterpret_cast<dispatch_queue_t>(static_cast<Object*>(new Queue(1)));
}
dispatch_queue_global_t dispatch_get_global_queue(intptr_t, uintptr_t) {
  return reinterpret_cast<dispatch_queue_global_t>(static_cast<Object*>(g_global));
}

dispatch_group_t dispatch_group_create(void) { return reinterpret_cast<dispatch_group_t>(static_cast<Object*>(new Group())); }
void dispatch_group_async_f(dispatch_group_t handle, dispatch_queue_t queue, void* context, dispatch_function_t work) {
  auto* group = static_cast<Group*>(objectOf(handle));
  {
    std::lock_guard<std::mutex> hold(group->lock);
    ++group->pending;
  }
  static_cast<Queue*>(objectOf(queue))->submit([group, context, work] {
    work(context);
    std::lock_guard<std::mutex> hold(group->lock);
    if (--group->pending == 0) group->empty.notify_all();
  });
}
intptr_t dispatch_group_wait(dispatch_group_t handle, dispatch_time_t) {
  auto* group = static_cast<Group*>(objectOf(handle));
  std::unique_lock<std::mutex> hold(group->lock);
  group->empty.wait(hold, [group] { return group->pending == 0; });
  return 0;
}

dispatch_semaphore_t dispatch_semaphore_create(intptr_t value) {
  auto* semaphore = new Semaphore();
  semaphore->value = value;
  return reinterpret_cast<dispatch_semaphore_t>(static_cast<Object*>(semaphore));
}
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t handle, dispatch_time_t) {
  auto* semaphore = static_cast<Semaphore*>(objectOf(handle));
  std::unique_lock<std::mutex> hold(semaphore->lock);
  semaphore->changed.wait(hold, [semaphore] { return semaphore->value > 0; });
  --semaphore->value;
  return 0;
}
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t handle) {
  auto* semaphore = static_cast<Semaphore*>(objectOf(handle));
  {
    std::lock_guard<std::mutex> hold(semaphore->lock);
    ++semaphore->value;
  }
  semaphore->changed.notify_one();
  return 0;
}

dispatch_source_t dispatch_source_create(dispatch_source_type_t, uintptr_t, uintptr_t, dispatch_queue_t queue) {
  auto* source = new Source();
  source->queue = static_cast<Queue*>(objectOf(queue));
  retain(source->queue);
  return reinterpret_cast<dispatch_source_t>(static_cast<Object*>(source));
}
void dispatch_source_set_timer(dispatch_source_t handle, dispatch_time_t, uint64_t interval, uint64_t) {
  static_cast<Source*>(objectOf(handle))->interval = std::chrono::nanoseconds(interval);
}
void dispatch_source_set_event_handler_f(dispatch_source_t handle, dispatch_function_t handler) {
  static_cast<Source*>(objectOf(handle))->onEvent = handler;
}
void dispatch_source_set_cancel_handler_f(dispatch_source_t handle, dispatch_function_t handler) {
  static_cast<Source*>(objectOf(handle))->onCancel = handler;
}
void dispatch_resume(dispatch_object_t handle) {
  auto* source = static_cast<Source*>(objectOf(handle));
  retain(source);  // held by the system until its cancel handler has run
  source->timer = std::thread(runTimer, source);
}
void dispatch_source_cancel(dispatch_source_t handle) {
  auto* source = static_cast<Source*>(objectOf(handle));
  {
    std::lock_guard<std::mutex> hold(source->lock);
    if (source->cancelled) return;
    source->cancelled = true;
  }
  source->changed.notify_all();
  // After any event run already queued or running: the queue is serial.
  source->queue->submit([source] {
    if (source->onCancel != nullptr) source->onCancel(source->context.load());
    release(source);
  });
}

}  // extern "C"
