// Grand Central Dispatch declarations for the Linux builds of the Apple platform sources
// only. Each declaration matches Apple's published signature as C++ code sees it (in
// C++ without Objective-C, dispatch objects are pointers to structs derived from
// dispatch_object_s, released with dispatch_release). Block-taking functions are
// declared only where blocks are enabled. Nothing here is defined on Linux.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifndef __cplusplus
#error "these dispatch declarations serve C++ and Objective-C++ sources only"
#endif

extern "C" {

struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s&);
  void operator=(const dispatch_object_s&);
};
typedef dispatch_object_s* dispatch_object_t;

#define CORVANE_DISPATCH_DECL(name) \
  typedef struct name##_s : public dispatch_object_s { \
  } * name##_t
#define CORVANE_DISPATCH_DECL_SUBCLASS(name, base) \
  typedef struct name##_s : public base##_s {      \
  } * name##_t

CORVANE_DISPATCH_DECL(dispatch_queue);
CORVANE_DISPATCH_DECL_SUBCLASS(dispatch_queue_global, dispatch_queue);
CORVANE_DISPATCH_DECL_SUBCLASS(dispatch_queue_serial, dispatch_queue);
CORVANE_DISPATCH_DECL_SUBCLASS(dispatch_queue_main, dispatch_queue_serial);
CORVANE_DISPATCH_DECL(dispatch_queue_attr);
CORVANE_DISPATCH_DECL(dispatch_source);
CORVANE_DISPATCH_DECL(dispatch_group);
CORVANE_DISPATCH_DECL(dispatch_semaphore);

#undef CORVANE_DISPATCH_DECL
#undef CORVANE_DISPATCH_DECL_SUBCLASS

typedef void (*dispatch_function_t)(void* context);

// Time.
typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#ifndef NSEC_PER_SEC
#define NSEC_PER_SEC 1000000000ull
#define NSEC_PER_MSEC 1000000ull
#define USEC_PER_SEC 1000000ull
#define NSEC_PER_USEC 1000ull
#endif
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

// Objects.
void dispatch_retain(dispatch_object_t object);
void dispatch_release(dispatch_object_t object);
void dispatch_set_context(dispatch_object_t object, void* context);
void* dispatch_get_context(dispatch_object_t object);
void dispatch_resume(dispatch_object_t object);
void dispatch_suspend(dispatch_object_t object);

// Queues.
#define DISPATCH_QUEUE_SERIAL NULL
#define DISPATCH_QUEUE_PRIORITY_HIGH 2
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0
#define DISPATCH_QUEUE_PRIORITY_LOW (-2)
dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr);
dispatch_queue_global_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);
dispatch_queue_main_t dispatch_get_main_queue(void);
const char* dispatch_queue_get_label(dispatch_queue_t queue);
void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work);
void dispatch_sync_f(dispatch_queue_t queue, void* context, dispatch_function_t work);

// Groups.
dispatch_group_t dispatch_group_create(void);
void dispatch_group_async_f(dispatch_group_t group, dispatch_queue_t queue, void* context, dispatch_function_t work);
intptr_t dispatch_group_wait(dispatch_group_t group, dispatch_time_t timeout);

// Semaphores.
dispatch_semaphore_t dispatch_semaphore_create(intptr_t value);
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);

// Once.
typedef intptr_t dispatch_once_t;
void dispatch_once_f(dispatch_once_t* predicate, void* context, dispatch_function_t function);

// Sources.
typedef const struct dispatch_source_type_s* dispatch_source_type_t;
extern const struct dispatch_source_type_s _dispatch_source_type_timer;
#define DISPATCH_SOURCE_TYPE_TIMER (&_dispatch_source_type_timer)
dispatch_source_t dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, uintptr_t mask,
                                         dispatch_queue_t queue);
void dispatch_source_set_timer(dispatch_source_t source, dispatch_time_t start, uint64_t interval, uint64_t leeway);
void dispatch_source_set_event_handler_f(dispatch_source_t source, dispatch_function_t handler);
void dispatch_source_set_cancel_handler_f(dispatch_source_t source, dispatch_function_t handler);
void dispatch_source_cancel(dispatch_source_t source);
intptr_t dispatch_source_testcancel(dispatch_source_t source);

#ifdef __BLOCKS__
typedef void (^dispatch_block_t)(void);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
void dispatch_group_async(dispatch_group_t group, dispatch_queue_t queue, dispatch_block_t block);
void dispatch_once(dispatch_once_t* predicate, dispatch_block_t block);
void dispatch_source_set_event_handler(dispatch_source_t source, dispatch_block_t handler);
void dispatch_source_set_cancel_handler(dispatch_source_t source, dispatch_block_t handler);
#endif

}  // extern "C"
