// Shared pieces of the soak tests: a scale for the long loops, a stream reader that
// runs on its own thread, and checks of a received H.264 byte stream.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"
#include "tests/support/eventually.h"
#include "tests/support/h264_decoder.h"
#include "tests/support/sanitizer_scale.h"

namespace soak {

using testing_support::kSanitizerDivisor;

inline constexpr const char* kPhone = "7E57DE71-CE00-4000-8000-000000000001";
inline constexpr const char* kAnimatedPhone = "7E57DE71-CE00-4000-8000-000000000008";

inline nlohmann::json parsedResponse(const std::optional<std::string>& line) {
  if (!line) return nlohmann::json();
  return nlohmann::json::parse(*line, nullptr, false);
}

// Starts capture of `udid` and returns the stream port (0 on failure).
inline uint16_t startCapture(testing_support::BridgeProcess& bridge, const char* udid) {
  const nlohmann::json started =
      parsedResponse(bridge.request(std::string(R"({"cmd":"start_capture","udid":")") + udid + "\"}"));
  if (!started.is_object() || !started.value("ok", false) || !started.contains("port")) return 0;
  return started["port"].get<uint16_t>();
}

// Open descriptors of process `pid` right now (-1 if it cannot be read).
inline int countOpenDescriptors(pid_t pid) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

// Reads a stream client on its own thread into one buffer until stop() or the peer
// closes. bytes() may be called from any thread.
class StreamReader {
 public:
  explicit StreamReader(uint16_t port) : client_(port) {
    if (client_.connected()) thread_ = std::thread([this] { run(); });
  }
  ~StreamReader() { stop(); }

  bool connected() const { return client_.connected(); }
  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_.size();
  }
  std::string bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
  }
  // Waits until more than `count` bytes have arrived; false when the deadline passes.
  bool waitForMoreThan(size_t count, std::chrono::milliseconds deadline = testing_support::kDefaultDeadline) {
    return testing_support::eventually([&] { return size() > count; }, deadline, std::chrono::milliseconds(10));
  }
  // Whole access units received from the first keyframe on, as checkStream counts them
  // (the last one may still be arriving, so it is not counted).
  size_t accessUnits() const {
    const std::string received = bytes();
    auto units = testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(received.data()), received.size());
    if (!units.empty()) units.pop_back();
    const auto keyframe = std::find_if(units.begin(), units.end(),
                                       [](const auto& unit) { return testing_support::inspectAccessUnit(unit).hasIdr; });
    return static_cast<size_t>(units.end() - keyframe);
  }
  // Waits until accessUnits() reaches `count`; false when the deadline passes.
  bool waitForAccessUnits(size_t count, std::chrono::milliseconds deadline = testing_support::kDefaultDeadline) {
    return testing_support::eventually([&] { return accessUnits() >= count; }, deadline, std::chrono::milliseconds(50));
  }
  // Ends reading (harmless twice); the socket stays open until destruction.
  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    while (!stopping_) {
      std::string chunk = client_.readUntilQuiet(std::chrono::milliseconds(50), std::chrono::milliseconds(100));
      if (chunk.empty()) {
        // An ended stream returns at once; do not spin on it until stop().
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      std::lock_guard<std::mutex> guard(lock_);
      bytes_ += chunk;
    }
  }

  testing_support::TcpClient client_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  std::string bytes_;  // guarded by lock_
  std::thread thread_;
};

// A client that connects with a small receive buffer and never reads, so the bridge's
// writes to it stall quickly.
class StalledClient {
 public:
  explicit StalledClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~StalledClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  StalledClient(const StalledClient&) = delete;
  StalledClient& operator=(const StalledClient&) = delete;
  bool connected() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads H.264 syntax elements from a NAL unit payload with emulation prevention removed.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      if (i >= 2 && data[i] == 3 && data[i - 1] == 0 && data[i - 2] == 0 && rbsp_.size() >= 2 &&
          rbsp_[rbsp_.size() - 1] == 0 && rbsp_[rbsp_.size() - 2] == 0) {
        continue;
      }
      rbsp_.push_back(data[i]);
    }
  }
  uint32_t bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | bit();
    return value;
  }
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0 && zeros < 32) ++zeros;
    return (1u << zeros) - 1 + bits(zeros);
  }
  bool overrun() const { return position_ > rbsp_.size() * 8; }

 private:
  uint32_t bit() {
    const size_t index = position_++;
    if (index / 8 >= rbsp_.size()) return 0;
    return (rbsp_[index / 8] >> (7 - index % 8)) & 1;
  }
  std::vector<uint8_t> rbsp_;
  size_t position_ = 0;
};

// log2(MaxFrameNum) from an SPS (the unit from its header byte on); nothing if the SPS
// uses scaling matrices, which these checks do not parse.
inline std::optional<int> log2MaxFrameNum(const uint8_t* nal, size_t size) {
  BitReader reader(nal + 1, size - 1);
  const uint32_t profile = reader.bits(8);
  reader.bits(16);  // constraint flags, level
  reader.ue();      // seq_parameter_set_id
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
      profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134 ||
      profile == 135) {
    if (reader.ue() == 3) reader.bits(1);  // chroma_format_idc, separate_colour_plane_flag
    reader.ue();                           // bit_depth_luma_minus8
    reader.ue();                           // bit_depth_chroma_minus8
    reader.bits(1);                        // qpprime_y_zero_transform_bypass_flag
    if (reader.bits(1)) return std::nullopt;  // seq_scaling_matrix_present_flag
  }
  const uint32_t value = reader.ue() + 4;
  if (reader.overrun() || value > 16) return std::nullopt;
  return static_cast<int>(value);
}

// What a received stream looked like once split and decoded.
struct StreamCheck {
  size_t accessUnits = 0;        // access units from the first keyframe on
  size_t decodedFrames = 0;      // pictures the decoder produced for them
  int decodeErrors = 0;          // access units the decoder rejected or reported errors on
  int keyframesWithoutParameterSets = 0;
  int frameNumberGaps = 0;       // a reference picture missing between two received ones
  std::string firstProblem;
};

// Splits `stream` into access units (without the last one unless `ended`: reading may
// have stopped in the middle of it), skips those before the first IDR picture (a client
// joins between keyframes), decodes the rest one by one and follows frame_num from one
// picture to the next: with every picture a reference picture it rises by one modulo
// MaxFrameNum and restarts at 0 on an IDR picture, so a lost access unit shows as a gap.
inline StreamCheck checkStream(const std::string& stream, bool ended = false) {
  StreamCheck check;
  const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
  auto units = testing_support::splitAccessUnits(data, stream.size());
  if (!ended && !units.empty()) units.pop_back();
  testing_support::H264Decoder decoder;
  bool started = false;
  std::optional<int> log2FrameNum;
  std::optional<uint32_t> previousFrameNum;
  size_t index = 0;
  for (const auto& unit : units) {
    ++index;
    const auto info = testing_support::inspectAccessUnit(unit);
    if (!started && !info.hasIdr) continue;
    started = true;
    ++check.accessUnits;
    auto note = [&](const std::string& problem) {
      if (check.firstProblem.empty()) check.firstProblem = "access unit " + std::to_string(index) + ": " + problem;
    };
    if (info.hasIdr && !(info.hasSps && info.hasPps && info.parameterSetsFirst)) {
      ++check.keyframesWithoutParameterSets;
      note("keyframe without SPS and PPS in front");
    }
    std::optional<uint32_t> frameNum;
    bool idr = false;
    for (const auto& nal : testing_support::splitNalUnits(unit.data(), unit.size())) {
      const uint8_t* bytes = unit.data() + nal.offset;
      if (nal.type == testing_support::kNalSps) log2FrameNum = log2MaxFrameNum(bytes, nal.size);
      if ((nal.type == testing_support::kNalIdrSlice || nal.type == testing_support::kNalNonIdrSlice) && !frameNum &&
          log2FrameNum) {
        BitReader reader(bytes + 1, nal.size - 1);
        reader.ue();  // first_mb_in_slice
        reader.ue();  // slice_type
        reader.ue();  // pic_parameter_set_id
        frameNum = reader.bits(*log2FrameNum);
        idr = nal.type == testing_support::kNalIdrSlice;
      }
    }
    if (frameNum && log2FrameNum) {
      const uint32_t modulus = 1u << *log2FrameNum;
      const uint32_t expected = idr ? 0 : (previousFrameNum ? (*previousFrameNum + 1) % modulus : *frameNum);
      if (*frameNum != expected) {
        ++check.frameNumberGaps;
        note("frame_num " + std::to_string(*frameNum) + " after " +
             (previousFrameNum ? std::to_string(*previousFrameNum) : std::string("none")));
      }
      previousFrameNum = frameNum;
    }
    std::vector<testing_support::DecodedFrame> frames;
    const int errorsBefore = decoder.errorCount();
    if (!decoder.decodeAccessUnit(unit, &frames) || decoder.errorCount() != errorsBefore) {
      ++check.decodeErrors;
      note("does not decode: " + decoder.lastError());
    }
    check.decodedFrames += frames.size();
  }
  std::vector<testing_support::DecodedFrame> rest;
  decoder.flush(&rest);
  check.decodedFrames += rest.size();
  return check;
}

}  // namespace soak
