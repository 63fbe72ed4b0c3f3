// Grand Central Dispatch declarations for the Linux builds of the Apple platform
// sources only; each matches Apple's published signature. On Linux the test hosts
// of the Objective-C stand-ins define the functions.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (^dispatch_block_t)(void);
typedef struct dispatch_queue_s* dispatch_queue_t;
typedef dispatch_queue_t dispatch_queue_global_t;

#define DISPATCH_QUEUE_PRIORITY_HIGH 2
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0
#define DISPATCH_QUEUE_PRIORITY_LOW (-2)

dispatch_queue_global_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#ifdef __cplusplus
}
#endif
