// The two dispatch calls of a program that hosts the stand-ins: the default global
// queue is the bridge's own GlobalQueue.
#include <Block.h>
#include <dispatch/dispatch.h>

#include "bridge/platform/global_queue.h"

namespace {

// The default global queue's handle: never dereferenced, only compared and passed on.
alignas(16) char g_defaultGlobalQueue;

}  // namespace

extern "C" {

dispatch_queue_global_t dispatch_get_global_queue(intptr_t, uintptr_t) {
  return reinterpret_cast<dispatch_queue_global_t>(&g_defaultGlobalQueue);
}

void dispatch_async(dispatch_queue_t, dispatch_block_t block) {
  dispatch_block_t kept = Block_copy(block);
  platform::GlobalQueue::shared().async([kept] {
    kept();
    Block_release(kept);
  });
}

}  // extern "C"
