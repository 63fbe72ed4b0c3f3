// How the C library's heap keeps the memory of x264 sessions.
//
// A session takes tens of MiB when it is built (x264's reference frames and lookahead,
// the input pictures, the scaling scratch) and frees all of it when it is torn down;
// every device switch does both, for the local and the remote session, on threads that
// come and go with the sessions. glibc maps blocks that large directly only until the
// first such block is freed: from then on it raises its threshold (up to 32 MiB) and
// serves them from its heaps, where freed memory stays with the process, spread over
// its arenas (up to 8 per core), so that every device switch left the bridge larger.
// docs/performance.md has the figures of each choice.
//
// Both calls do nothing with another C library.
#pragma once

namespace platform::x264impl {

// Keeps the threshold at 128 KiB (glibc's own starting value), so that every block of
// that size or more is mapped for itself and returned to the system when freed.
// Process-wide; called once, before the first session is built.
void mapLargeBlocksDirectly();

// Returns the free pages left inside the heaps (small blocks freed around live ones) to
// the system. Called after a session's encoder and pictures have been freed; takes about
// 0.1 ms, a few ms at most, on the thread that tore the session down.
void returnFreedHeapPages();

}  // namespace platform::x264impl
