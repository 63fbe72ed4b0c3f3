// A stream client that decodes as it reads, for end-to-end tests and benchmarks of what
// the stream shows.
//
// A background thread reads the raw Annex B byte stream of a stream server. The stream
// has no framing: an access unit is known to be whole once the first bytes of the next
// one arrive (a pause in the bytes proves nothing, since a large unit may arrive in
// parts). It is then decoded, and its pictures are stamped with the time the unit's own
// last bytes arrived, so the stamp waits neither for the next unit nor for the decoder.
// The last unit of a stream is decoded when the stream ends. Units before the first
// keyframe are skipped: a client may join between keyframes, and those cannot be
// decoded. At most one watch is armed at a time: the first picture decoded after watch()
// for which the predicate holds is kept, with its time, for waitForMatch.
//
// Threads: one test thread calls the methods. A reader thread only drains the socket,
// so a slow decoder never makes the bridge drop this client as a stalled one; a decoder
// thread decodes what it read and runs the predicates. Drop rule: received bytes wait
// for the decoder without bound (a test's stream is short); pictures are decoded and
// dropped at once; only the matched one is kept.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "tests/support/bridge_process.h"
#include "tests/support/h264_decoder.h"

namespace testing_support {

class DecodedStream {
 public:
  using Clock = std::chrono::steady_clock;
  using Predicate = std::function<bool(const DecodedFrame&)>;

  struct Match {
    DecodedFrame frame;
    Clock::time_point arrived;
  };

  // Connects to 127.0.0.1:port and starts reading; connected() tells whether it could.
  explicit DecodedStream(uint16_t port);
  // Stops the reader and closes the connection.
  ~DecodedStream();
  DecodedStream(const DecodedStream&) = delete;
  DecodedStream& operator=(const DecodedStream&) = delete;

  bool connected() const { return client_.connected(); }

  // Arms a watch (replacing any earlier one) for pictures whose bytes arrive from now on
  // (a picture still in the decoding backlog from before never matches).
  void watch(Predicate predicate);
  // The armed watch's match, waiting for it up to `deadline`; nothing when it passes.
  std::optional<Match> waitForMatch(std::chrono::milliseconds deadline = kDefaultDeadline);
  // Arms a watch for any picture and waits for it.
  std::optional<DecodedFrame> nextFrame(std::chrono::milliseconds deadline = kDefaultDeadline);

  int framesDecoded() const { return framesDecoded_.load(); }
  int decodeErrors() const { return decodeErrors_.load(); }
  long long bytesReceived() const { return bytesReceived_.load(); }

 private:
  struct Chunk {
    std::string bytes;
    Clock::time_point arrived;
  };
  void readLoop();
  void decodeLoop();
  // Where to start decoding a batch of whole units. Units that arrived before the armed
  // watch (or while none is armed: a later watch only takes later units) can never match;
  // they matter only as references. So a decoder that has fallen behind skips them when
  // a later IDR is already here and resumes there, and catches up with the stream.
  size_t firstToDecode(const std::vector<std::vector<uint8_t>>& units, const std::vector<Clock::time_point>& arrivals);
  void decode(const uint8_t* data, size_t length, Clock::time_point arrived);

  TcpClient client_;
  H264Decoder decoder_;           // decoder thread only
  bool keyframeSeen_ = false;     // decoder thread only

  std::mutex chunkLock_;
  std::condition_variable chunkArrived_;
  std::deque<Chunk> chunks_;      // guarded by chunkLock_: read, not yet decoded
  bool ended_ = false;            // guarded by chunkLock_: the server closed the stream
  bool stop_ = false;             // guarded by chunkLock_: the destructor runs
  std::atomic<int> framesDecoded_{0};
  std::atomic<int> decodeErrors_{0};
  std::atomic<long long> bytesReceived_{0};

  std::mutex lock_;
  std::condition_variable matched_;
  Predicate predicate_;           // guarded by lock_
  Clock::time_point armedAt_;     // guarded by lock_
  std::optional<Match> match_;    // guarded by lock_
  std::thread reader_;
  std::thread decoderThread_;
};

}  // namespace testing_support
