// The two process-wide hubs and the frame callbacks that feed them.
//
// streamHub carries the local stream (fed by frameCallback, the local encoder's
// receiver), remoteHub the remote stream (fed by remoteFrameCallback). Both are created
// once by createStreamHubs at start-up, before any other thread runs, and are never
// replaced afterwards; from then on every thread may read the two pointers without a
// lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "bridge/encoder/frame_callback.h"
#include "bridge/streaming/stream_hub.h"

// Set by createStreamHubs; read-only afterwards (any thread).
extern std::shared_ptr<StreamHub> streamHub;
extern std::shared_ptr<StreamHub> remoteHub;

// Creates both hubs with empty client lists. The keyframe actions are the encoders'
// (the local and the remote keyframe request); the streaming layer does not call into
// the encoder itself. Called once on the main thread at start-up.
void createStreamHubs(std::function<void()> requestLocalKeyframe, std::function<void()> requestRemoteKeyframe);

// Test reset: replaces both hubs with new empty ones whose keyframe actions do nothing.
// Only while no accept thread or callback uses the old ones.
void resetStreamHubsForTesting();

extern "C" {
// Hands one access unit to streamHub (StreamHub::broadcast) and returns without waiting
// for any client's socket: what a socket does not take at once stays in that client's
// backlog. Called on the local encoder's output thread; `data` is never null.
void frameCallback(const uint8_t* data, uint64_t length);
// As frameCallback, for remoteHub; a null `data` makes the call do nothing.
void remoteFrameCallback(const uint8_t* data, uint64_t length);
}
