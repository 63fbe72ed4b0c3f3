// The state of the two H.264 encoders (local and remote) and the internals shared by the
// encoder entries, the remote stream control and the output path.
//
// Each encoder owns at most one compression session, built lazily at the first frame
// that passes its gates, kept from frame to frame and rebuilt when the source size
// changes or a rebuild is flagged. An encoder whose callback is null is off: it encodes
// nothing and holds no session.
//
// Locking: g_lock serialises the capture queue (SHEncoderEncode) and the command thread
// (SHEncoderStopAll and the remote stream control). Completion waits on a session are
// made while holding it; the output threads never take it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "bridge/encoder/frame_callback.h"
#include "bridge/platform/media_platform.h"

namespace encoder {

struct EncoderState {
  const char* name;                          // "local" or "remote"; log lines only
  platform::CompressionSessionRef session;   // guarded by g_lock; null when there is none
  int32_t sourceWidth;                       // guarded by g_lock; 0 without a session
  int32_t sourceHeight;                      // guarded by g_lock; 0 without a session
  int32_t maxDim;                            // guarded by g_lock; longer output side, <= 0: no limit
  int32_t bitrate;                           // guarded by g_lock; bit/s, <= 0: quality-based VBR
  int32_t fps;                               // guarded by g_lock
  bool needsRebuild;                         // guarded by g_lock
  std::atomic<bool> forceKeyframe;           // atomic: release store / acq_rel exchange
  std::atomic<SHFrameCallback> callback;     // atomic: release store / acquire load
};

extern EncoderState g_local;
extern EncoderState g_remote;
extern std::mutex g_lock;
extern int64_t g_tick;  // guarded by g_lock: frames handed to SHEncoderEncode since start or stop-all

// Encodes one frame into one encoder. Called with g_lock held on the capture queue; may
// block while an old session drains.
void _encodeInto(EncoderState& state, const platform::PixelBuffer* pixelBuffer, int32_t width, int32_t height,
                 int64_t tick);
// Applies fps and bitrate (with its data-rate limit) to the live session, if any. Called
// with g_lock held.
void _applyRate(EncoderState& state);
// Completes, invalidates and releases the session, if any. Called with g_lock held; blocks
// until the session's pending output has passed through the output callback.
void _tearDownSession(EncoderState& state);

// The output size for a source under a limit on the longer side (0 or less: none):
// scaled down to the limit, then made even and at least 2 on each side.
struct OutputSize {
  int32_t width;
  int32_t height;
};
OutputSize _outputSize(int32_t width, int32_t height, int32_t maxDim);

// The frame-rate gate's divisor: the encoder encodes ticks that are multiples of it.
int64_t _frameDivisor(int32_t fps);

// The data-rate limit in bytes per 1.0 s window for an average bitrate.
int64_t _byteLimit(int32_t bitrate);

}  // namespace encoder

// Returns both encoders to their initial state (off, no session, initial parameters) and
// the tick to 0. Tests only; takes g_lock and drains live sessions.
void resetEncoderStateForTesting();
