// A compression session on one x264 encoder with one output thread of its own.
//
// encodeFrame (caller's thread) converts the surface to an I420 picture under the
// surface's read-only lock and queues it; the output thread encodes queued pictures in
// order (a large picture in two slices side by side, see x264_settings.cpp) and calls
// the output callback with each encoded sample. x264 runs without delay, so every
// encode call yields its own frame. Before converting, encodeFrame waits (at most 20 ms)
// for its turn among the process's sessions (see encode_turns.h): on a 2-core machine
// the second session of a capture tick starts once the first one's frame is out.
//
// Drop rule: at most kMaxQueuedFrames pictures wait for the output thread. When the
// encoder falls behind and the queue is full, the oldest waiting picture is dropped (it
// gives no sample, no callback) and the new one takes its place; a keyframe request of a
// dropped picture passes to the one that replaces it, so it is never lost.
//
// Threads: setProperty, prepareToEncodeFrames, encodeFrame, completeFrames and invalidate
// are called by one thread at a time (the encoder layer serialises on its lock), never
// from the output callback. completeFrames blocks until the queue is empty and the output
// thread idle. invalidate discards waiting pictures, stops and joins the output thread:
// once it returns no callback runs any more; a second call does nothing.
#pragma once

#include <cstdint>  // x264.h needs it first

#include <x264.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bridge/platform/media_platform.h"
#include "bridge/platform/x264/pixel_transfer.h"
#include "bridge/platform/x264/x264_settings.h"

namespace platform::x264impl {

class X264Session final : public CompressionSession {
 public:
  static constexpr size_t kMaxQueuedFrames = 2;

  X264Session(int32_t width, int32_t height, CompressionOutputCallback callback, void* outputContext);
  ~X264Session() override;

  int32_t setProperty(CompressionProperty key, const PropertyValue& value) override;
  int32_t prepareToEncodeFrames() override;
  int32_t encodeFrame(const PixelBuffer& buffer, MediaTime presentationTime, MediaTime duration,
                      const EncodeFrameOptions* options) override;
  int32_t completeFrames(MediaTime completeUntil) override;
  void invalidate() override;

  // Frames dropped so far because the output thread fell behind (for tests and logs).
  uint64_t droppedFrames() const;

 private:
  struct Picture {
    x264_picture_t picture;
    bool allocated = false;
  };
  struct Job {
    size_t picture;    // index into pictures_
    int64_t pts;       // presentation time in 90 kHz units
    bool forceKeyFrame;
  };

  int32_t open();
  // Closes the encoder and frees its pictures; true when there was an encoder. Caller's
  // thread, with no output thread running (before it starts or after it was joined).
  bool releaseEncoder();
  void outputLoop();
  void encodeJob(const Job& job);
  // Tracks the real spacing of the frames; true when the rates must be corrected for it.
  bool followFrameSpacing(int64_t pts);

  const int32_t width_;
  const int32_t height_;
  const CompressionOutputCallback callback_;
  void* const outputContext_;

  // Caller's thread only (one at a time, see above).
  PixelTransfer transfer_;
  bool opened_ = false;     // written under lock_ as well, for setProperty
  int threads_ = 1;         // x264's threads for one encode, known once opened
  int64_t lastPts_ = -1;    // last queued presentation time, 90 kHz
  std::mutex joinLock_;  // serialises the join of invalidate and the destructor

  // Output thread only, after open() (which runs before the thread starts).
  x264_t* encoder_ = nullptr;
  x264_param_t param_{};
  int64_t lastKeyPts_ = -1;   // presentation time of the last IDR, 90 kHz
  int64_t keyInterval_ = 0;   // longest time between IDRs, 90 kHz; 0: IDRs only on request
  int64_t previousPts_ = -1;  // last encoded presentation time, 90 kHz
  double spacing_ = 0;        // smoothed gap between frames, 90 kHz; 0 until two frames
  double rateScale_ = 1.0;    // opened frame rate / real frame rate, applied to the rates
  std::vector<uint8_t> parameterSets_;  // SPS then PPS, each behind its 4-byte length

  mutable std::mutex lock_;
  std::condition_variable changed_;
  SessionSettings settings_;                            // guarded by lock_
  bool rateChanged_ = false;                            // guarded by lock_
  std::array<Picture, kMaxQueuedFrames + 1> pictures_;  // owned by whoever holds the index
  std::vector<size_t> freePictures_;                    // guarded by lock_
  std::deque<Job> queue_;                               // guarded by lock_
  bool busy_ = false;                                   // output thread encoding; guarded by lock_
  bool stopping_ = false;                               // guarded by lock_
  bool pendingKeyFrame_ = false;  // request of a dropped or failed frame; guarded by lock_
  uint64_t dropped_ = 0;                                // guarded by lock_
  std::thread thread_;
};

}  // namespace platform::x264impl
