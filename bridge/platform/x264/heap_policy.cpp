#include "bridge/platform/x264/heap_policy.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform::x264impl {

#if defined(__GLIBC__)
namespace {
constexpr int kMapThresholdBytes = 128 * 1024;
}  // namespace

void mapLargeBlocksDirectly() { mallopt(M_MMAP_THRESHOLD, kMapThresholdBytes); }

void returnFreedHeapPages() { malloc_trim(0); }
#else
void mapLargeBlocksDirectly() {}

void returnFreedHeapPages() {}
#endif

}  // namespace platform::x264impl
