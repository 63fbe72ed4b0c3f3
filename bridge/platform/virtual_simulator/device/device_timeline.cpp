// VirtualDevice: what each display shows at a given time, and when that next changes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "bridge/platform/virtual_simulator/device/virtual_device.h"

namespace platform::virtual_sim {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr milliseconds kFrame(33);
constexpr milliseconds kDualPhase(3000);  // the Dual-Panel cycle is three of these
constexpr milliseconds kProgressLoop(10000);

std::string clockText(WallTime wall) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(wall);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

int toPixel(double fraction, int size) {
  return std::clamp(static_cast<int>(std::lround(fraction * size)), 0, size - 1);
}

// What a panel of the Dual-Panel Phone does in each third of its cycle.
enum class PanelState { Live, Black, Frozen };
PanelState dualPanelState(int panel, int64_t third) {
  static constexpr PanelState kStates[2][3] = {
      {PanelState::Live, PanelState::Black, PanelState::Live},
      {PanelState::Black, PanelState::Live, PanelState::Frozen},
  };
  return kStates[panel == 0 ? 0 : 1][third % 3];
}

}  // namespace

int VirtualDevice::progressAt(const InputState& input, SteadyTime now) {
  if (!input.playing) return input.progressAtStart;
  const int64_t ran = duration_cast<milliseconds>(now - input.playStartedAt).count();
  return static_cast<int>((input.progressAtStart + ran * 1000 / kProgressLoop.count()) % 1000);
}

std::optional<Picture> VirtualDevice::pictureFor(int panel, const InputState& input, SteadyTime now,
                                                 WallTime wall) const {
  const SteadyTime start = timelineStart().value_or(now);
  const int64_t frame = std::max<int64_t>(0, (now - start) / kFrame);
  Picture picture;
  switch (entry_.behaviour) {
    case Behaviour::TVGrid: {
      picture.mode = PanelMode::TV;
      picture.focus = input.focus;
      picture.flash = now < input.flashUntil;
      picture.playing = input.playing;
      picture.progress = progressAt(input, now);
      break;
    }
    case Behaviour::Animated:
      picture.mode = PanelMode::Pattern;
      picture.patternPhase = frame;
      break;
    case Behaviour::DualPanel: {
      const int64_t third = std::max<int64_t>(0, (now - start) / kDualPhase);
      switch (dualPanelState(panel, third)) {
        case PanelState::Black: return Picture{};
        case PanelState::Frozen: return std::nullopt;
        case PanelState::Live: break;
      }
      picture.mode = PanelMode::Home;
      picture.activity = static_cast<int>(frame % 1000000);
      break;
    }
    default:
      picture.mode = PanelMode::Home;
      break;
  }
  if (picture.mode == PanelMode::Home) {
    picture.clock = clockText(wall);
    picture.text = input.text;
    picture.sent = input.sent;
  }
  if (now < input.bannerUntil) picture.banner = input.banner;
  if (input.touching) {
    picture.touching = true;
    picture.touchX = toPixel(input.touchX, entry_.displayWidth);
    picture.touchY = toPixel(input.touchY, entry_.displayHeight);
  }
  return picture;
}

SteadyTime VirtualDevice::nextChange(const InputState& input, SteadyTime now, WallTime wall) const {
  const SteadyTime start = timelineStart().value_or(now);
  const SteadyTime nextFrame = start + kFrame * ((now - start) / kFrame + 1);
  SteadyTime next = now + std::chrono::hours(1);
  auto consider = [&](SteadyTime when) {
    if (when > now) next = std::min(next, when);
  };
  consider(input.bannerUntil);
  switch (entry_.behaviour) {
    case Behaviour::TVGrid:
      consider(input.flashUntil);
      if (input.playing) consider(nextFrame);
      break;
    case Behaviour::Animated:
      consider(nextFrame);
      break;
    case Behaviour::DualPanel:
      consider(nextFrame);
      consider(start + kDualPhase * ((now - start) / kDualPhase + 1));
      [[fallthrough]];
    default: {
      // The status-bar clock turns at the next whole second of wall time.
      const auto intoSecond = duration_cast<nanoseconds>(wall.time_since_epoch()) % std::chrono::seconds(1);
      consider(now + (std::chrono::seconds(1) - intoSecond));
      break;
    }
  }
  return next;
}

}  // namespace platform::virtual_sim
